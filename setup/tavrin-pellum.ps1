# Privileged set-up of this computer's time sync with a Tavrin server.
# Tavrin Pellum runs it elevated ("runas") through powershell.exe -File.
#
#   tavrin-pellum.ps1 install -Server <IPv4 address>
#   tavrin-pellum.ps1 remove
#   tavrin-pellum.ps1 sync
#   tavrin-pellum.ps1 set-time -Time <yyyy-MM-ddTHH:mm:ssZ>
#
# Exit codes:
#   0  done
#   2  bad command or arguments (nothing changed)
#   3  done, but the time server did not answer a time request (install, sync)
#   4  needs administrator rights (nothing changed)
#   5  changing the settings failed; the earlier settings are back in place
#   6  the Windows time service is not available (nothing changed)
#   7  sync asked for while this computer is not set up
#   8  setting the clock failed
#   9  a domain or a policy manages this computer's time (nothing changed)
#   10 the server answered, but the time service did not take its time
#
# The Windows time service is set to follow the server as its only peer, at
# startup and every 30 minutes, and to run while the network is up. The
# settings in force before the first install (values absent then included, and
# the service's triggers) are kept under the record key ("Previous") and put
# back exactly on removal. The record the program reads back holds "Server"
# and "HasPrevious".

param(
    [Parameter(Position = 0)][string]$Command = '',
    [string]$Server = '',
    [string]$Time = '',
    [Parameter(ValueFromRemainingArguments = $true)][string[]]$Rest = @()
)

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

$ExitUsage = 2
$ExitNoAnswer = 3
$ExitNeedsAdmin = 4
$ExitChangeFailed = 5
$ExitNoService = 6
$ExitNotSetUp = 7
$ExitClockFailed = 8
$ExitManaged = 9
$ExitNotTaken = 10

$RecordSubKey = 'SOFTWARE\Tavrin Pellum'
$PreviousSubKey = 'SOFTWARE\Tavrin Pellum\Previous'
$KeptTriggersSubKey = 'SOFTWARE\Tavrin Pellum\Previous\TriggerInfo'
$ParametersSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\Parameters'
$NtpClientSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\TimeProviders\NtpClient'
$ServiceSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time'
# Where the service manager keeps the service's triggers between boots.
$TriggersSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\TriggerInfo'
$PolicySubKey = 'SOFTWARE\Policies\Microsoft\W32Time'
$PollSeconds = 1800
$SntpPort = 123
$SntpWaitMs = 3000
# What a workgroup computer uses out of the box.
$StandardPeer = 'time.windows.com,0x9'
$StandardType = 'NTP'
$StandardPollSeconds = 604800
$StandardStart = 3

# The time service's values this script sets, each under its own key; the
# kept copy holds them under the same names.
$TimeValues = @(
    @{ SubKey = $ParametersSubKey; Name = 'NtpServer' },
    @{ SubKey = $ParametersSubKey; Name = 'Type' },
    @{ SubKey = $NtpClientSubKey; Name = 'SpecialPollInterval' },
    @{ SubKey = $ServiceSubKey; Name = 'Start' }
)

# Tools from the system folder by full path, never through the search path.
$System32 = [Environment]::SystemDirectory
$W32tm = Join-Path $System32 'w32tm.exe'
$Sc = Join-Path $System32 'sc.exe'

function Fail([int]$Code, [string]$Text) {
    [Console]::Error.WriteLine("tavrin-pellum.ps1: $Text")
    exit $Code
}

function Fail-Usage([string]$Text) {
    Fail $ExitUsage "$Text (usage: tavrin-pellum.ps1 install -Server <IPv4> | remove | sync | set-time -Time <yyyy-MM-ddTHH:mm:ssZ>)"
}

# --- argument checks ---------------------------------------------------------

function Test-IPv4([string]$Text) {
    # [0-9], not \d (any script's digits), and \z, not $ (which allows a final newline).
    if ($Text -notmatch '^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\z') { return $false }
    foreach ($octet in $Text.Split('.')) {
        # No leading zeros: 010 reads as 8 in some places and 10 in others.
        if ($octet.Length -gt 1 -and $octet.StartsWith('0')) { return $false }
        if ([int]$octet -gt 255) { return $false }
    }
    return $true
}

function ConvertFrom-UtcText([string]$Text) {
    if ($Text -notmatch '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z\z') { return $null }
    $parsed = [DateTime]::MinValue
    $styles = [Globalization.DateTimeStyles]::AssumeUniversal -bor [Globalization.DateTimeStyles]::AdjustToUniversal
    if (-not [DateTime]::TryParseExact($Text, "yyyy-MM-dd'T'HH:mm:ss'Z'",
            [Globalization.CultureInfo]::InvariantCulture, $styles, [ref]$parsed)) {
        return $null
    }
    return $parsed
}

# --- registry, always in the 64-bit view -------------------------------------

function Open-Machine() {
    return [Microsoft.Win32.RegistryKey]::OpenBaseKey(
        [Microsoft.Win32.RegistryHive]::LocalMachine, [Microsoft.Win32.RegistryView]::Registry64)
}

function Read-Value([string]$SubKey, [string]$Name) {
    $machine = Open-Machine
    try {
        $key = $machine.OpenSubKey($SubKey)
        if ($null -eq $key) { return $null }
        try { return $key.GetValue($Name, $null, [Microsoft.Win32.RegistryValueOptions]::DoNotExpandEnvironmentNames) }
        finally { $key.Close() }
    } finally { $machine.Close() }
}

function Write-Value([string]$SubKey, [string]$Name, $Value, [Microsoft.Win32.RegistryValueKind]$Kind) {
    $machine = Open-Machine
    try {
        $key = $machine.CreateSubKey($SubKey)
        try { $key.SetValue($Name, $Value, $Kind) } finally { $key.Close() }
    } finally { $machine.Close() }
}

function Remove-Value([string]$SubKey, [string]$Name) {
    $machine = Open-Machine
    try {
        $key = $machine.OpenSubKey($SubKey, $true)
        if ($null -eq $key) { return }
        try { $key.DeleteValue($Name, $false) } finally { $key.Close() }
    } finally { $machine.Close() }
}

function Remove-Key([string]$SubKey) {
    $machine = Open-Machine
    try { $machine.DeleteSubKeyTree($SubKey, $false) } finally { $machine.Close() }
}

function Test-Key([string]$SubKey) {
    $machine = Open-Machine
    try {
        $key = $machine.OpenSubKey($SubKey)
        if ($null -eq $key) { return $false }
        $key.Close()
        return $true
    } finally { $machine.Close() }
}

# One value as it stands: its data and kind, or $null when it is absent.
function Get-ValueRecord([string]$SubKey, [string]$Name) {
    $machine = Open-Machine
    try {
        $key = $machine.OpenSubKey($SubKey)
        if ($null -eq $key) { return $null }
        try {
            if ($key.GetValueNames() -notcontains $Name) { return $null }
            return @{
                Value = $key.GetValue($Name, $null, [Microsoft.Win32.RegistryValueOptions]::DoNotExpandEnvironmentNames)
                Kind = $key.GetValueKind($Name)
            }
        } finally { $key.Close() }
    } finally { $machine.Close() }
}

# Puts a value back as the record says; an absent one is removed.
function Set-ValueRecord([string]$SubKey, [string]$Name, $Record) {
    if ($null -eq $Record) { Remove-Value $SubKey $Name }
    else { Write-Value $SubKey $Name $Record.Value $Record.Kind }
}

# A key with all its values and subkeys, or $null when it is absent.
function Get-Tree([string]$SubKey) {
    if (-not (Test-Key $SubKey)) { return $null }
    $machine = Open-Machine
    try {
        $key = $machine.OpenSubKey($SubKey)
        try {
            $values = @{}
            foreach ($name in $key.GetValueNames()) { $values[$name] = Get-ValueRecord $SubKey $name }
            $subkeys = @{}
            foreach ($name in $key.GetSubKeyNames()) { $subkeys[$name] = Get-Tree "$SubKey\$name" }
            return @{ Data = $values; Children = $subkeys }
        } finally { $key.Close() }
    } finally { $machine.Close() }
}

# Makes the key exactly what the tree says: absent, or with just its content.
function Set-Tree([string]$SubKey, $Tree) {
    Remove-Key $SubKey
    if ($null -eq $Tree) { return }
    $machine = Open-Machine
    try { $machine.CreateSubKey($SubKey).Close() } finally { $machine.Close() }
    foreach ($name in $Tree.Data.Keys) { Set-ValueRecord $SubKey $name $Tree.Data[$name] }
    foreach ($name in $Tree.Children.Keys) { Set-Tree "$SubKey\$name" $Tree.Children[$name] }
}

# --- the time service's settings ---------------------------------------------

# The service manager reads Start only at boot; tell it now as well.
function Sync-StartType() {
    $start = Read-Value $ServiceSubKey 'Start'
    if ($null -eq $start) { return }
    $startup = @{ 2 = 'Automatic'; 3 = 'Manual'; 4 = 'Disabled' }[[int]$start]
    if ($null -ne $startup) { Set-Service -Name W32Time -StartupType $startup }
}

function Get-TimeSettings() {
    $settings = @{}
    foreach ($item in $TimeValues) { $settings[$item.Name] = Get-ValueRecord $item.SubKey $item.Name }
    return $settings
}

# Writes the settings back; absent values are removed only when `Exact`
# (a copy kept by an older version did not record what was absent).
function Set-TimeSettings($Settings, [bool]$Exact) {
    foreach ($item in $TimeValues) {
        $record = $Settings[$item.Name]
        if ($null -ne $record -or $Exact) { Set-ValueRecord $item.SubKey $item.Name $record }
    }
    Sync-StartType
}

function Invoke-Tool([string]$Program, [string[]]$Arguments) {
    & $Program @Arguments | Out-Null
    return $LASTEXITCODE
}

# Run while the network is up: the service is trigger-started on a workgroup
# computer and stops soon after boot otherwise. "sc triggerinfo" replaces all
# of the service's triggers (Service Trigger Events; sc.exe triggerinfo).
function Set-NetworkTriggers() {
    if ((Invoke-Tool $Sc @('triggerinfo', 'w32time', 'start/networkon', 'stop/networkoff')) -ne 0) {
        throw 'sc.exe triggerinfo did not take the network triggers'
    }
}

# Puts the kept triggers back. The service manager loads them from its
# registry key when Windows starts; until then the service has none, which
# only means that nothing stops it.
function Restore-Triggers($Tree) {
    if ((Invoke-Tool $Sc @('triggerinfo', 'w32time', 'delete')) -ne 0) {
        throw 'sc.exe triggerinfo did not remove the triggers'
    }
    # No triggers before: none now, and no empty key either.
    if ($null -ne $Tree -and ($Tree.Data.Count -gt 0 -or $Tree.Children.Count -gt 0)) { Set-Tree $TriggersSubKey $Tree }
}

# Everything a step may change, to put back when it fails part-way.
function Get-Snapshot() {
    return @{
        Time = Get-TimeSettings
        Triggers = Get-Tree $TriggersSubKey
        Record = Get-Tree $RecordSubKey
    }
}

function Restore-Snapshot($Snapshot) {
    try {
        Set-TimeSettings $Snapshot.Time $true
        Restore-Triggers $Snapshot.Triggers
        Set-Tree $RecordSubKey $Snapshot.Record
        Update-TimeService
    } catch {
        [Console]::Error.WriteLine("tavrin-pellum.ps1: restoring the earlier settings: $($_.Exception.Message)")
    }
}

# --- the time service ----------------------------------------------------------

function Assert-Admin() {
    $principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
    if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
        Fail $ExitNeedsAdmin 'this step needs administrator rights'
    }
}

function Assert-TimeService() {
    if ($null -eq (Get-Service -Name W32Time -ErrorAction SilentlyContinue)) {
        Fail $ExitNoService 'the Windows time service (W32Time) is not installed'
    }
}

# A domain member takes its time from the domain hierarchy, which Kerberos
# relies on, and policy values under Policies\Microsoft\W32Time override the
# ones this script writes: neither is ours to change.
function Assert-NotManaged() {
    try { $member = [bool](Get-CimInstance -ClassName Win32_ComputerSystem).PartOfDomain }
    catch { Fail $ExitManaged "cannot tell whether a domain manages this computer's time: $($_.Exception.Message)" }
    if ($member) { Fail $ExitManaged "this computer is a domain member and takes its time from the domain" }
    foreach ($policy in @(@('Parameters', 'NtpServer'), @('Parameters', 'Type'),
                          @('TimeProviders\NtpClient', 'SpecialPollInterval'))) {
        if ($null -ne (Read-Value "$PolicySubKey\$($policy[0])" $policy[1])) {
            Fail $ExitManaged "a policy sets this computer's time service ($($policy[0])\$($policy[1]))"
        }
    }
}

# Makes the running service take up the settings in the registry.
function Update-TimeService() {
    $service = Get-Service -Name W32Time
    if ([int](Read-Value $ServiceSubKey 'Start') -eq 4) {
        # Disabled again: it may not run, so it is not asked to.
        if ($service.Status -ne 'Stopped') { Stop-Service -Name W32Time -Force }
        return
    }
    if ($service.Status -ne 'Running') {
        Start-Service -Name W32Time
        $service.WaitForStatus('Running', [TimeSpan]::FromSeconds(30))
    }
    if ((Invoke-Tool $W32tm @('/config', '/update')) -ne 0) {
        Restart-Service -Name W32Time -Force
    }
}

# True when the server answers one SNTP request. Checked here because
# w32tm's own exit codes do not tell a silent server from other failures.
function Test-ServerAnswers([string]$Address) {
    $client = New-Object Net.Sockets.UdpClient
    try {
        $client.Client.ReceiveTimeout = $SntpWaitMs
        $request = New-Object byte[] 48
        $request[0] = 0x23   # version 4, client mode
        $stamp = New-Object byte[] 8
        (New-Object Random).NextBytes($stamp)
        [Array]::Copy($stamp, 0, $request, 40, 8)
        [void]$client.Send($request, $request.Length, $Address, $SntpPort)
        $from = New-Object Net.IPEndPoint([Net.IPAddress]::Any, 0)
        $deadline = [DateTime]::UtcNow.AddMilliseconds($SntpWaitMs)
        while ([DateTime]::UtcNow -lt $deadline) {
            try { $reply = $client.Receive([ref]$from) } catch [Net.Sockets.SocketException] { return $false }
            if ($from.Address.ToString() -ne $Address -or $reply.Length -lt 48) { continue }
            $mode = $reply[0] -band 7
            $stratum = $reply[1]
            $echoed = [BitConverter]::ToString($reply, 24, 8) -eq [BitConverter]::ToString($stamp)
            if ($mode -eq 4 -and $stratum -ge 1 -and $stratum -le 15 -and $echoed) { return $true }
        }
        return $false
    } finally { $client.Close() }
}

# One sync attempt: 0 synced, 3 the server did not answer, 10 it answered but
# the service did not take the time. /resync and /rediscover are w32tm's
# documented switches (Windows Time service tools and settings).
function Invoke-Resync([string]$Address) {
    if (-not (Test-ServerAnswers $Address)) { return $ExitNoAnswer }
    $code = Invoke-Tool $W32tm @('/resync', '/rediscover')
    if ($code -ne 0) {
        [Console]::Error.WriteLine("tavrin-pellum.ps1: w32tm /resync failed with $code")
        return $ExitNotTaken
    }
    return 0
}

# --- commands --------------------------------------------------------------------

function Install-Setup([string]$Address) {
    Assert-Admin
    Assert-TimeService
    Assert-NotManaged
    $snapshot = Get-Snapshot
    try {
        if ($null -eq $snapshot.Record) {
            # First install: keep what is in force now, for the removal. A
            # re-install keeps the settings kept the first time.
            Remove-Key $PreviousSubKey
            foreach ($name in $snapshot.Time.Keys) {
                $record = $snapshot.Time[$name]
                if ($null -ne $record) { Write-Value $PreviousSubKey $name $record.Value $record.Kind }
            }
            # Absent values were kept as absent.
            Write-Value $PreviousSubKey 'Exact' 1 ([Microsoft.Win32.RegistryValueKind]::DWord)
        }
        if (-not (Test-Key $KeptTriggersSubKey)) {
            # Kept by a version that never changed the triggers: they are still the earlier ones.
            Set-Tree $KeptTriggersSubKey $snapshot.Triggers
            if ($null -eq $snapshot.Triggers) { Set-Tree $KeptTriggersSubKey @{ Data = @{}; Children = @{} } }
        }
        $hasPrevious = 0
        if (Test-Key $PreviousSubKey) { $hasPrevious = 1 }
        $text = [Microsoft.Win32.RegistryValueKind]::String
        $dword = [Microsoft.Win32.RegistryValueKind]::DWord
        Set-TimeSettings @{
            NtpServer = @{ Value = "$Address,0x9"; Kind = $text }
            Type = @{ Value = 'NTP'; Kind = $text }
            SpecialPollInterval = @{ Value = $PollSeconds; Kind = $dword }
            Start = @{ Value = 2; Kind = $dword }
        } $false
        Set-NetworkTriggers
        Write-Value $RecordSubKey 'Server' $Address $text
        Write-Value $RecordSubKey 'HasPrevious' $hasPrevious $dword
        Update-TimeService
    } catch {
        Restore-Snapshot $snapshot
        Fail $ExitChangeFailed "setting up failed: $($_.Exception.Message) (the earlier settings are back in place)"
    }
    exit (Invoke-Resync $Address)
}

function Remove-Setup() {
    Assert-Admin
    Assert-TimeService
    $snapshot = Get-Snapshot
    if ($null -eq $snapshot.Record) { exit 0 }
    try {
        if ([int](Read-Value $RecordSubKey 'HasPrevious') -eq 1 -and (Test-Key $PreviousSubKey)) {
            $kept = @{}
            foreach ($item in $TimeValues) { $kept[$item.Name] = Get-ValueRecord $PreviousSubKey $item.Name }
            Set-TimeSettings $kept ([int](Read-Value $PreviousSubKey 'Exact') -eq 1)
        } else {
            $text = [Microsoft.Win32.RegistryValueKind]::String
            $dword = [Microsoft.Win32.RegistryValueKind]::DWord
            Set-TimeSettings @{
                NtpServer = @{ Value = $StandardPeer; Kind = $text }
                Type = @{ Value = $StandardType; Kind = $text }
                SpecialPollInterval = @{ Value = $StandardPollSeconds; Kind = $dword }
                Start = @{ Value = $StandardStart; Kind = $dword }
            } $false
        }
        if (Test-Key $KeptTriggersSubKey) { Restore-Triggers (Get-Tree $KeptTriggersSubKey) }
        Remove-Key $RecordSubKey
        # A service that was stopped before stays stopped; one that runs takes
        # up the earlier settings, and a disabled one is stopped, not started.
        $status = (Get-Service -Name W32Time).Status
        if ($status -eq 'Running' -or [int](Read-Value $ServiceSubKey 'Start') -eq 4) { Update-TimeService }
    } catch {
        Restore-Snapshot $snapshot
        Fail $ExitChangeFailed "removal failed: $($_.Exception.Message) (the earlier settings are back in place)"
    }
    exit 0
}

function Sync-Now() {
    Assert-Admin
    Assert-TimeService
    $address = Read-Value $RecordSubKey 'Server'
    if ($null -eq $address) {
        Fail $ExitNotSetUp 'this computer is not set up to sync with a Tavrin server'
    }
    Assert-NotManaged
    try { Update-TimeService } catch { Fail $ExitChangeFailed "the time service did not start: $($_.Exception.Message)" }
    exit (Invoke-Resync ([string]$address))
}

function Set-Clock([DateTime]$Utc) {
    Assert-Admin
    try {
        Set-Date -Date $Utc.ToLocalTime() | Out-Null
    } catch {
        Fail $ExitClockFailed "could not set the clock: $($_.Exception.Message)"
    }
    exit 0
}

# --- command line --------------------------------------------------------------

if ($Rest.Count -gt 0) { Fail-Usage "unexpected arguments: $($Rest -join ' ')" }
switch ($Command) {
    'install' {
        if ($Time -ne '') { Fail-Usage 'install takes only -Server' }
        if ($Server -eq '') { Fail-Usage 'install takes -Server <IPv4 address>' }
        if (-not (Test-IPv4 $Server)) { Fail-Usage "not an IPv4 address: '$Server'" }
        Install-Setup $Server
    }
    'remove' {
        if ($Server -ne '' -or $Time -ne '') { Fail-Usage 'remove takes no arguments' }
        Remove-Setup
    }
    'sync' {
        if ($Server -ne '' -or $Time -ne '') { Fail-Usage 'sync takes no arguments' }
        Sync-Now
    }
    'set-time' {
        if ($Server -ne '') { Fail-Usage 'set-time takes only -Time' }
        $utc = ConvertFrom-UtcText $Time
        if ($null -eq $utc) { Fail-Usage "not a UTC time of the form 2026-03-01T08:15:00Z: '$Time'" }
        Set-Clock $utc
    }
    default {
        Fail-Usage "unknown command '$Command'"
    }
}
