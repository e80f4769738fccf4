# Privileged set-up of this computer's time sync with a Tavrin server.
# Tavrin Pellum runs it elevated ("runas") through
# powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -File.
#
#   tavrin-pellum.ps1 install -Server <IPv4 address>
#   tavrin-pellum.ps1 remove
#   tavrin-pellum.ps1 sync
#   tavrin-pellum.ps1 set-time -Time <yyyy-MM-ddTHH:mm:ssZ>
#
# Exit codes:
#   0  done
#   1  the script stopped on an unexpected error
#   2  bad command or arguments (nothing changed)
#   3  done, but the time server did not answer a time request (install, sync)
#   4  needs administrator rights (nothing changed)
#   5  changing the settings failed; the earlier settings are back in place
#   6  the Windows time service is not available (nothing changed)
#   7  sync asked for while this computer is not set up
#   8  setting the clock failed
#   9  a domain or a policy manages this computer's time (nothing changed)
#   10 the server answered, but the time service did not take its time
#      (after install: the computer is set up)
#   11 changing the settings failed, and putting the earlier ones back failed
#      too; the message names what could not be restored
#   12 sync: the time service no longer follows the set-up server, because its
#      settings were changed outside Tavrin Pellum (nothing changed)
#   13 the time service did not start or stop within its time limit (install
#      and remove: the earlier settings are back in place)
#   14 the sync did not end within its time limit (after install: the
#      computer is set up)
#
# The Windows time service is set to follow the server as its only peer, at
# startup and every 30 minutes, and to run while the network is up. The
# settings in force before the first install (values absent then included, and
# the service's triggers) are kept under the record key ("Previous") and put
# back exactly on removal. The record the program reads back holds "Server"
# and "HasPrevious".
#
# Run as a file it carries out the command; dot-sourced it only defines its
# functions.

param(
    [Parameter(Position = 0)][string]$Command = '',
    [string]$Server = '',
    [string]$Time = '',
    [Parameter(ValueFromRemainingArguments = $true)][string[]]$Rest = @()
)

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

$ExitUnexpected = 1
$ExitUsage = 2
$ExitNoAnswer = 3
$ExitNeedsAdmin = 4
$ExitChangeFailed = 5
$ExitNoService = 6
$ExitNotSetUp = 7
$ExitClockFailed = 8
$ExitManaged = 9
$ExitNotTaken = 10
$ExitRestoreFailed = 11
$ExitChangedElsewhere = 12
$ExitServiceTimeout = 13
$ExitResyncTimeout = 14

$RecordSubKey = 'SOFTWARE\Tavrin Pellum'
$PreviousSubKey = 'SOFTWARE\Tavrin Pellum\Previous'
$KeptTriggersSubKey = 'SOFTWARE\Tavrin Pellum\Previous\TriggerInfo'
$ParametersSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\Parameters'
$NtpClientSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\TimeProviders\NtpClient'
$ServiceSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time'
# Where the service manager keeps the service's triggers.
$TriggersSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\TriggerInfo'
$PolicySubKey = 'SOFTWARE\Policies\Microsoft\W32Time'
$PollSeconds = 1800
$SntpPort = 123
$SntpWaitMs = 3000
# Time limits, so that the program's wait always ends.
$ServiceLimitSeconds = 60
$ResyncLimitSeconds = 60
$ToolLimitSeconds = 30
# A sync shows in the service's status a moment after /resync returns.
$ConfirmWaitSeconds = 2
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

# Service trigger subtypes that sc.exe triggerinfo can name, by the word it
# takes for them (SERVICE_TRIGGER, winsvc.h).
$TriggerWords = @{
    '4f27f2de-14e2-430b-a549-7cd48cbc8245' = 'networkon'
    'cc4ba62a-162e-4648-847a-b6bdf993e335' = 'networkoff'
    '1ce20aba-9851-4421-9430-1ddeb766e809' = 'domainjoin'
    'ddaf516e-58c2-4866-9574-c3b615d42ea1' = 'domainleave'
    '659fcae6-5bdb-4da9-b1ff-ca2a178d46e0' = 'machinepolicy'
    '54fb46c8-f089-464c-b1fd-59d1b62c3b50' = 'userpolicy'
}

# Tools from the system folder by full path, never through the search path.
# No cmdlet runs before the session is closed to the user's modules.
$System32 = [Environment]::SystemDirectory
$W32tm = [IO.Path]::Combine($System32, 'w32tm.exe')
$Sc = [IO.Path]::Combine($System32, 'sc.exe')

# A failure that ends the step with its own exit code.
function New-StepError([int]$Code, [string]$Text) {
    $failure = New-Object Exception $Text
    $failure.Data['ExitCode'] = $Code
    return $failure
}

function Fail([int]$Code, [string]$Text) {
    throw (New-StepError $Code $Text)
}

function Fail-Usage([string]$Text) {
    Fail $ExitUsage "$Text (usage: tavrin-pellum.ps1 install -Server <IPv4> | remove | sync | set-time -Time <yyyy-MM-ddTHH:mm:ssZ>)"
}

function Write-Message([string]$Text) {
    [Console]::Error.WriteLine("tavrin-pellum.ps1: $Text")
}

# Elevated code must come only from the system's own modules: Windows
# PowerShell auto-loads the module of any cmdlet it does not know yet,
# searching the user's Documents\WindowsPowerShell\Modules first, and
# -NoProfile does not stop that.
function Protect-Session() {
    $global:PSModuleAutoLoadingPreference = 'None'
    $modules = [IO.Path]::Combine($PSHOME, 'Modules')
    $env:PSModulePath = $modules
    foreach ($name in @('Microsoft.PowerShell.Management', 'Microsoft.PowerShell.Utility')) {
        Import-Module -Name ([IO.Path]::Combine($modules, $name, "$name.psd1")) -Global
    }
}

# --- argument checks ---------------------------------------------------------

# One unicast IPv4 address in plain dotted decimal: no leading zeros (010
# reads as 8 in some places and 10 in others), and none of the addresses
# that cannot be one time server: 0.0.0.0/8, multicast 224.0.0.0/4, the
# reserved 240.0.0.0/4 and the broadcast 255.255.255.255.
function Test-IPv4([string]$Text) {
    # [0-9], not \d (any script's digits), and \z, not $ (which allows a final newline).
    if ($Text -notmatch '^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\z') { return $false }
    $octets = $Text.Split('.')
    foreach ($octet in $octets) {
        if ($octet.Length -gt 1 -and $octet.StartsWith('0')) { return $false }
        if ([int]$octet -gt 255) { return $false }
    }
    $first = [int]$octets[0]
    return $first -ne 0 -and $first -lt 224
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

# --- the tools and the service manager -----------------------------------------

# Runs a system tool and waits at most $LimitSeconds. Its output is read as
# text: under 'Stop', redirected standard error of a native command would
# end the script at its first line. Returns the exit code ($null when the
# limit passed and the tool was ended) and the output's lines.
function Invoke-Tool([string]$Program, [string[]]$Arguments, [int]$LimitSeconds) {
    $start = New-Object Diagnostics.ProcessStartInfo $Program
    # Every argument is a fixed word or a checked address: none needs quoting.
    $start.Arguments = $Arguments -join ' '
    $start.UseShellExecute = $false
    $start.CreateNoWindow = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [Diagnostics.Process]::Start($start)
    try {
        # Both pipes are drained at once, or a full one would stall the tool.
        $out = $process.StandardOutput.ReadToEndAsync()
        $err = $process.StandardError.ReadToEndAsync()
        $code = $null
        if ($process.WaitForExit($LimitSeconds * 1000)) {
            $process.WaitForExit()
            $code = $process.ExitCode
        } else {
            try { $process.Kill() } catch { }
            [void]$process.WaitForExit(5000)
        }
        $text = ''
        if ($out.Wait(5000)) { $text += $out.Result }
        if ($err.Wait(5000)) { $text += $err.Result }
        $lines = @($text -split '\r?\n' | Where-Object { $_.Trim() -ne '' })
        return @{ Code = $code; Lines = $lines }
    } finally { $process.Dispose() }
}

# The tool's last line, to say why it failed.
function Get-ToolReason($Result) {
    if ($null -eq $Result.Code) { return 'it did not end in time' }
    $last = 'no output'
    if ($Result.Lines.Count -gt 0) { $last = $Result.Lines[$Result.Lines.Count - 1].Trim() }
    return "exit $($Result.Code): $last"
}

# Runs sc.exe or w32tm.exe and fails the step with the tool's own words.
function Invoke-Checked([string]$Program, [string[]]$Arguments) {
    $result = Invoke-Tool $Program $Arguments $ToolLimitSeconds
    if ($result.Code -ne 0) {
        $name = [IO.Path]::GetFileName($Program)
        throw "$name $($Arguments -join ' ') failed ($(Get-ToolReason $result))"
    }
}

function Test-Admin() {
    $principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
    return $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
}

function Test-DomainMember() {
    Import-Module -Name ([IO.Path]::Combine($PSHOME, 'Modules', 'CimCmdlets', 'CimCmdlets.psd1'))
    return [bool](Get-CimInstance -ClassName Win32_ComputerSystem).PartOfDomain
}

# The time service's controller, or $null when it is not installed.
function Get-TimeService() {
    return Get-Service -Name W32Time -ErrorAction SilentlyContinue
}

function Set-TimeServiceStartup([string]$Startup) {
    Set-Service -Name W32Time -StartupType $Startup
}

# Asks the service to start or stop and waits at most the limit: the
# service cmdlets would wait without one.
function Set-TimeServiceRunning([bool]$Running) {
    $service = Get-TimeService
    $want = 'Stopped'
    if ($Running) { $want = 'Running' }
    if ([string]$service.Status -eq $want) { return }
    if ($Running) { $service.Start() } else { $service.Stop() }
    try { $service.WaitForStatus($want, [TimeSpan]::FromSeconds($ServiceLimitSeconds)) }
    catch {
        # The method's own exception comes wrapped in the call's.
        $timeout = $_.Exception
        while ($null -ne $timeout -and $timeout.GetType().Name -ne 'TimeoutException') { $timeout = $timeout.InnerException }
        if ($null -eq $timeout) { throw }
        throw (New-StepError $ExitServiceTimeout "the time service did not reach '$want' within $ServiceLimitSeconds s")
    }
}

function Test-TimeServiceRunning() {
    return [string](Get-TimeService).Status -eq 'Running'
}

# --- the time service's settings ---------------------------------------------

# The service manager reads Start only at boot; tell it now as well.
function Sync-StartType() {
    $start = Read-Value $ServiceSubKey 'Start'
    if ($null -eq $start) { return }
    $startup = @{ 2 = 'Automatic'; 3 = 'Manual'; 4 = 'Disabled' }[[int]$start]
    if ($null -ne $startup) { Set-TimeServiceStartup $startup }
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

# Run while the network is up: the service is trigger-started on a workgroup
# computer and stops soon after boot otherwise. "sc triggerinfo" replaces all
# of the service's triggers at once.
function Set-NetworkTriggers() {
    Invoke-Checked $Sc @('triggerinfo', 'w32time', 'start/networkon', 'stop/networkoff')
}

# The sc.exe words that recreate the kept triggers, or $null when one of
# them is of a kind sc.exe cannot name.
function ConvertTo-TriggerWords($Tree) {
    $words = @()
    if ($null -eq $Tree) { return , $words }
    foreach ($index in @($Tree.Children.Keys | Sort-Object { [int]$_ })) {
        $data = $Tree.Children[$index].Data
        if (-not ($data.ContainsKey('GUID') -and $data.ContainsKey('Action'))) { return $null }
        if ($data.Keys -match '^Data') { return $null }
        $guid = (New-Object Guid (, [byte[]]$data['GUID'].Value)).ToString()
        $action = @{ 1 = 'start'; 2 = 'stop' }[[int]$data['Action'].Value]
        if (-not $TriggerWords.ContainsKey($guid) -or $null -eq $action) { return $null }
        $words += "$action/$($TriggerWords[$guid])"
    }
    return , $words
}

# Puts the kept triggers back, live: the service manager reads its registry
# key only at boot, so the running service learns them from sc.exe.
function Restore-Triggers($Tree) {
    $words = ConvertTo-TriggerWords $Tree
    if ($null -eq $words) {
        # A kind sc.exe cannot name: the registry copy, which takes effect at boot.
        Invoke-Checked $Sc @('triggerinfo', 'w32time', 'delete')
        Set-Tree $TriggersSubKey $Tree
    } elseif ($words.Count -eq 0) {
        Invoke-Checked $Sc @('triggerinfo', 'w32time', 'delete')
    } else {
        Invoke-Checked $Sc (@('triggerinfo', 'w32time') + $words)
    }
}

# Makes the running service take up the settings in the registry.
function Update-TimeService() {
    if ([int](Read-Value $ServiceSubKey 'Start') -eq 4) {
        # Disabled: it may not run, so it is not asked to.
        Set-TimeServiceRunning $false
        return
    }
    Set-TimeServiceRunning $true
    $result = Invoke-Tool $W32tm @('/config', '/update') $ToolLimitSeconds
    if ($result.Code -ne 0) {
        Set-TimeServiceRunning $false
        Set-TimeServiceRunning $true
    }
}

# Everything a step may change, to put back when it fails part-way.
function Get-Snapshot() {
    return @{
        Time = Get-TimeSettings
        Triggers = Get-Tree $TriggersSubKey
        Record = Get-Tree $RecordSubKey
        Running = Test-TimeServiceRunning
    }
}

# Puts back each piece on its own, so one that fails does not skip the
# rest. Returns what could not be put back, as one line; empty when all was.
function Restore-Snapshot($Snapshot, [bool]$TriggersChanged) {
    $failed = @()
    $pieces = [ordered]@{
        'the time settings' = { Set-TimeSettings $Snapshot.Time $true }
        'the service triggers' = { if ($TriggersChanged) { Restore-Triggers $Snapshot.Triggers } }
        'the set-up record' = { Set-Tree $RecordSubKey $Snapshot.Record }
        'the running service' = {
            if ($Snapshot.Running) { Update-TimeService } else { Set-TimeServiceRunning $false }
        }
    }
    foreach ($piece in $pieces.Keys) {
        try { & $pieces[$piece] }
        catch { $failed += "$piece ($($_.Exception.Message))" }
    }
    return $failed -join '; '
}

# Ends a failed change: the earlier settings are put back, and the exit code
# says whether that worked.
function Fail-Change($Snapshot, [bool]$TriggersChanged, [string]$What, $Failure) {
    $code = $ExitChangeFailed
    if ($Failure.Data.Contains('ExitCode')) { $code = $Failure.Data['ExitCode'] }
    $notRestored = Restore-Snapshot $Snapshot $TriggersChanged
    if ($notRestored -ne '') {
        Fail $ExitRestoreFailed "$What failed: $($Failure.Message); putting back the earlier settings failed too: $notRestored"
    }
    Fail $code "$What failed: $($Failure.Message) (the earlier settings are back in place)"
}

# --- checks before a change ------------------------------------------------------

function Assert-Admin() {
    if (-not (Test-Admin)) { Fail $ExitNeedsAdmin 'this step needs administrator rights' }
}

function Assert-TimeService() {
    if ($null -eq (Get-TimeService)) {
        Fail $ExitNoService 'the Windows time service (W32Time) is not installed'
    }
}

function Test-Member() {
    try { return Test-DomainMember }
    catch { Fail $ExitManaged "cannot tell whether a domain manages this computer's time: $($_.Exception.Message)" }
}

# A domain member takes its time from the domain hierarchy, which Kerberos
# relies on, and policy values under Policies\Microsoft\W32Time override or
# limit the ones this script writes: neither is ours to change.
function Assert-NotManaged() {
    if (Test-Member) { Fail $ExitManaged 'this computer is a domain member and takes its time from the domain' }
    foreach ($policy in @(@('Parameters', 'NtpServer'), @('Parameters', 'Type'),
                          @('TimeProviders\NtpClient', 'SpecialPollInterval'))) {
        if ($null -ne (Read-Value "$PolicySubKey\$($policy[0])" $policy[1])) {
            Fail $ExitManaged "a policy sets this computer's time service ($($policy[0])\$($policy[1]))"
        }
    }
    $enabled = Read-Value "$PolicySubKey\TimeProviders\NtpClient" 'Enabled'
    if ($null -ne $enabled -and [int]$enabled -eq 0) {
        Fail $ExitManaged 'a policy switches the time service''s NTP client off'
    }
    # The "Global Configuration Settings" policy, with the limits on how far
    # the service may correct the clock, writes its values here together.
    $config = Get-Tree "$PolicySubKey\Config"
    if ($null -ne $config -and $config.Data.Count -gt 0) {
        Fail $ExitManaged 'a policy sets the time service''s configuration and its correction limits'
    }
}

# --- the sync --------------------------------------------------------------------

# True when the server answers one SNTP request. Checked here because
# w32tm's own exit codes do not tell a silent server from other failures.
# Every failure of the exchange (no route, a refused send) is no answer.
function Test-ServerAnswers([string]$Address) {
    $client = $null
    try {
        $client = New-Object Net.Sockets.UdpClient
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
            $reply = $client.Receive([ref]$from)
            if ($from.Address.ToString() -ne $Address -or $reply.Length -lt 48) { continue }
            $mode = $reply[0] -band 7
            $stratum = $reply[1]
            $echoed = [BitConverter]::ToString($reply, 24, 8) -eq [BitConverter]::ToString($stamp)
            if ($mode -eq 4 -and $stratum -ge 1 -and $stratum -le 15 -and $echoed) { return $true }
        }
        return $false
    } catch {
        return $false
    } finally {
        if ($null -ne $client) { $client.Close() }
    }
}

# The service's status as "<label>: <value>" lines. Labels follow the
# display language, so fields are found by their fixed order: the source
# line, then the one before it, the last successful sync.
function Get-SyncStatus([string]$Address) {
    $values = @()
    try { $result = Invoke-Tool $W32tm @('/query', '/status') $ToolLimitSeconds }
    catch { return @{ Values = $values; Source = -1 } }
    foreach ($line in $result.Lines) {
        $at = $line.IndexOf(':')
        if ($at -gt 0) { $values += $line.Substring($at + 1).Trim() }
    }
    $source = -1
    for ($i = 1; $i -lt $values.Count; $i++) {
        if ($values[$i] -eq $Address -or $values[$i].StartsWith("$Address,")) { $source = $i; break }
    }
    return @{ Values = $values; Source = $source }
}

# One sync attempt: 0 synced, 3 the server did not answer, 10 it answered
# but the service did not take the time, 14 the resync did not end in time.
# /resync's exit code alone does not show whether the service took the time:
# its status must name the server and show a newer last sync.
function Invoke-Resync([string]$Address) {
    if (-not (Test-ServerAnswers $Address)) { return $ExitNoAnswer }
    $before = Get-SyncStatus $Address
    try { $resync = Invoke-Tool $W32tm @('/resync', '/rediscover') $ResyncLimitSeconds }
    catch { $resync = @{ Code = -1; Lines = @($_.Exception.Message) } }
    if ($null -eq $resync.Code) {
        Write-Message "w32tm /resync did not end within $ResyncLimitSeconds s"
        return $ExitResyncTimeout
    }
    for ($try = 0; $try -lt 2; $try++) {
        if ($try -gt 0) { Start-Sleep -Seconds $ConfirmWaitSeconds }
        $after = Get-SyncStatus $Address
        if ($after.Source -gt 0) {
            $last = $after.Values[$after.Source - 1]
            $earlier = ''
            if ($before.Values.Count -gt $after.Source) { $earlier = $before.Values[$after.Source - 1] }
            if ($last -ne $earlier) { return 0 }
        }
    }
    Write-Message "the time service did not take its time from $Address (w32tm /resync: $(Get-ToolReason $resync))"
    return $ExitNotTaken
}

# --- commands --------------------------------------------------------------------

function Install-Setup([string]$Address) {
    Assert-Admin
    Assert-TimeService
    Assert-NotManaged
    $snapshot = Get-Snapshot
    $triggersChanged = $false
    try {
        if ($null -eq $snapshot.Record) {
            # First install: keep what is in force now, for the removal. A
            # re-install keeps the settings kept the first time.
            Remove-Key $PreviousSubKey
            foreach ($name in $snapshot.Time.Keys) {
                $record = $snapshot.Time[$name]
                if ($null -ne $record) { Write-Value $PreviousSubKey $name $record.Value $record.Kind }
            }
            # Absent values were kept as absent, and whether the service ran.
            Write-Value $PreviousSubKey 'Exact' 1 ([Microsoft.Win32.RegistryValueKind]::DWord)
            Write-Value $PreviousSubKey 'Running' ([int]$snapshot.Running) ([Microsoft.Win32.RegistryValueKind]::DWord)
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
        $triggersChanged = $true
        Set-NetworkTriggers
        Write-Value $RecordSubKey 'Server' $Address $text
        Write-Value $RecordSubKey 'HasPrevious' $hasPrevious $dword
        Update-TimeService
    } catch {
        Fail-Change $snapshot $triggersChanged 'setting up' $_.Exception
    }
    return Invoke-Resync $Address
}

function Remove-Setup() {
    Assert-Admin
    Assert-TimeService
    $snapshot = Get-Snapshot
    if ($null -eq $snapshot.Record) { return 0 }
    $member = Test-Member
    $triggersChanged = $false
    $ran = Read-Value $PreviousSubKey 'Running'
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
        if (Test-Key $KeptTriggersSubKey) {
            $triggersChanged = $true
            Restore-Triggers (Get-Tree $KeptTriggersSubKey)
        }
        if ($member) {
            # Joined to a domain since the set-up: the domain hierarchy, not
            # the workgroup's earlier peer, is where its time comes from now.
            Invoke-Checked $W32tm @('/config', '/syncfromflags:domhier')
        }
        Remove-Key $RecordSubKey
        # The service runs again only if it ran before the set-up, and takes up
        # the earlier settings; a disabled one is stopped, not started. A copy
        # kept by an older version did not record it: a running one goes on.
        if ($null -ne $ran -and [int]$ran -ne 1) { Set-TimeServiceRunning $false }
        elseif ($null -ne $ran -or $snapshot.Running -or [int](Read-Value $ServiceSubKey 'Start') -eq 4) { Update-TimeService }
    } catch {
        Fail-Change $snapshot $triggersChanged 'removal' $_.Exception
    }
    return 0
}

function Sync-Now() {
    Assert-Admin
    Assert-TimeService
    $address = Read-Value $RecordSubKey 'Server'
    if ($null -eq $address) {
        Fail $ExitNotSetUp 'this computer is not set up to sync with a Tavrin server'
    }
    $address = [string]$address
    Assert-NotManaged
    # Settings, or another tool, may have pointed the service elsewhere since:
    # a sync would then not be with this server.
    if ([string](Read-Value $ParametersSubKey 'NtpServer') -ne "$address,0x9" -or
            [string](Read-Value $ParametersSubKey 'Type') -ne 'NTP') {
        Fail $ExitChangedElsewhere "the time service no longer follows ${address}: its settings were changed outside Tavrin Pellum"
    }
    try { Update-TimeService }
    catch {
        $code = $ExitChangeFailed
        if ($_.Exception.Data.Contains('ExitCode')) { $code = $_.Exception.Data['ExitCode'] }
        Fail $code "the time service did not start: $($_.Exception.Message)"
    }
    return Invoke-Resync $address
}

function Set-Clock([DateTime]$Utc) {
    Assert-Admin
    try {
        Set-Date -Date $Utc.ToLocalTime() | Out-Null
    } catch {
        Fail $ExitClockFailed "could not set the clock: $($_.Exception.Message)"
    }
    return 0
}

# --- command line --------------------------------------------------------------

# Carries out one command line; returns the exit code.
function Invoke-CommandLine([string]$Command, [string]$Server, [string]$Time, [string[]]$Rest) {
    try {
        if ($Rest.Count -gt 0) { Fail-Usage "unexpected arguments: $($Rest -join ' ')" }
        switch ($Command) {
            'install' {
                if ($Time -ne '') { Fail-Usage 'install takes only -Server' }
                if ($Server -eq '') { Fail-Usage 'install takes -Server <IPv4 address>' }
                if (-not (Test-IPv4 $Server)) { Fail-Usage "not the IPv4 address of one time server: '$Server'" }
                return Install-Setup $Server
            }
            'remove' {
                if ($Server -ne '' -or $Time -ne '') { Fail-Usage 'remove takes no arguments' }
                return Remove-Setup
            }
            'sync' {
                if ($Server -ne '' -or $Time -ne '') { Fail-Usage 'sync takes no arguments' }
                return Sync-Now
            }
            'set-time' {
                if ($Server -ne '') { Fail-Usage 'set-time takes only -Time' }
                $utc = ConvertFrom-UtcText $Time
                if ($null -eq $utc) { Fail-Usage "not a UTC time of the form 2026-03-01T08:15:00Z: '$Time'" }
                return Set-Clock $utc
            }
            default { Fail-Usage "unknown command '$Command'" }
        }
    } catch {
        $code = $ExitUnexpected
        if ($_.Exception.Data.Contains('ExitCode')) { $code = $_.Exception.Data['ExitCode'] }
        Write-Message $_.Exception.Message
        return $code
    }
}

if ($MyInvocation.InvocationName -ne '.') {
    Protect-Session
    exit (Invoke-CommandLine $Command $Server $Time $Rest)
}
