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
#   3  done, but the time server did not answer (install, sync)
#   4  needs administrator rights (nothing changed)
#   5  changing the settings failed; the earlier settings are back in place
#   6  the Windows time service is not available (nothing changed)
#   7  sync asked for while this computer is not set up
#   8  setting the clock failed
#
# The Windows time service is set to follow the server as its only peer, at
# startup and every 30 minutes. The settings in force before the first install
# are kept under the record key ("Previous") and put back on removal. The
# record the program reads back holds "Server" and "HasPrevious".

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

$RecordSubKey = 'SOFTWARE\Tavrin Pellum'
$PreviousSubKey = 'SOFTWARE\Tavrin Pellum\Previous'
$ParametersSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\Parameters'
$NtpClientSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time\TimeProviders\NtpClient'
$ServiceSubKey = 'SYSTEM\CurrentControlSet\Services\W32Time'
$PollSeconds = 1800
# What a workgroup computer uses out of the box.
$StandardPeer = 'time.windows.com,0x9'
$StandardType = 'NTP'
$StandardPollSeconds = 604800
$StandardStart = 3

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

# --- the time service's settings as one record --------------------------------

function Get-TimeSettings() {
    return @{
        # A value that is absent stays $null, so it is never written back empty.
        NtpServer = Read-Value $ParametersSubKey 'NtpServer'
        Type = Read-Value $ParametersSubKey 'Type'
        SpecialPollInterval = Read-Value $NtpClientSubKey 'SpecialPollInterval'
        Start = Read-Value $ServiceSubKey 'Start'
    }
}

function Set-TimeSettings($Settings) {
    if ($null -ne $Settings.NtpServer) {
        Write-Value $ParametersSubKey 'NtpServer' ([string]$Settings.NtpServer) ([Microsoft.Win32.RegistryValueKind]::String)
    }
    if ($null -ne $Settings.Type) {
        Write-Value $ParametersSubKey 'Type' ([string]$Settings.Type) ([Microsoft.Win32.RegistryValueKind]::String)
    }
    if ($null -ne $Settings.SpecialPollInterval) {
        Write-Value $NtpClientSubKey 'SpecialPollInterval' ([int]$Settings.SpecialPollInterval) ([Microsoft.Win32.RegistryValueKind]::DWord)
    }
    if ($null -ne $Settings.Start) {
        Write-Value $ServiceSubKey 'Start' ([int]$Settings.Start) ([Microsoft.Win32.RegistryValueKind]::DWord)
        # The service manager reads Start only at boot; tell it now as well.
        $startup = @{ 2 = 'Automatic'; 3 = 'Manual'; 4 = 'Disabled' }[[int]$Settings.Start]
        if ($null -ne $startup) { Set-Service -Name W32Time -StartupType $startup }
    }
}

function Get-KeptSettings() {
    return @{
        NtpServer = Read-Value $PreviousSubKey 'NtpServer'
        Type = Read-Value $PreviousSubKey 'Type'
        SpecialPollInterval = Read-Value $PreviousSubKey 'SpecialPollInterval'
        Start = Read-Value $PreviousSubKey 'Start'
    }
}

function Save-KeptSettings($Settings) {
    $text = [Microsoft.Win32.RegistryValueKind]::String
    $dword = [Microsoft.Win32.RegistryValueKind]::DWord
    if ($null -ne $Settings.NtpServer) { Write-Value $PreviousSubKey 'NtpServer' ([string]$Settings.NtpServer) $text }
    if ($null -ne $Settings.Type) { Write-Value $PreviousSubKey 'Type' ([string]$Settings.Type) $text }
    if ($null -ne $Settings.SpecialPollInterval) {
        Write-Value $PreviousSubKey 'SpecialPollInterval' ([int]$Settings.SpecialPollInterval) $dword
    }
    if ($null -ne $Settings.Start) {
        Write-Value $PreviousSubKey 'Start' ([int]$Settings.Start) $dword
    }
}

# Everything a step may change, to put back when it fails part-way.
function Get-Snapshot() {
    return @{
        Time = Get-TimeSettings
        HadRecord = Test-Key $RecordSubKey
        Server = Read-Value $RecordSubKey 'Server'
        HasPrevious = Read-Value $RecordSubKey 'HasPrevious'
        HadPrevious = Test-Key $PreviousSubKey
        Previous = Get-KeptSettings
    }
}

function Restore-Snapshot($Snapshot) {
    try {
        Set-TimeSettings $Snapshot.Time
        Remove-Key $RecordSubKey
        if ($Snapshot.HadRecord) {
            if ($null -ne $Snapshot.Server) {
                Write-Value $RecordSubKey 'Server' ([string]$Snapshot.Server) ([Microsoft.Win32.RegistryValueKind]::String)
            }
            if ($null -ne $Snapshot.HasPrevious) {
                Write-Value $RecordSubKey 'HasPrevious' ([int]$Snapshot.HasPrevious) ([Microsoft.Win32.RegistryValueKind]::DWord)
            }
            if ($Snapshot.HadPrevious) { Save-KeptSettings $Snapshot.Previous }
        }
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

function Invoke-W32tm([string[]]$Arguments) {
    & w32tm.exe @Arguments | Out-Null
    return $LASTEXITCODE
}

# Makes the running service take up the settings in the registry.
function Update-TimeService() {
    $service = Get-Service -Name W32Time
    if ($service.Status -ne 'Running') {
        Start-Service -Name W32Time
    }
    if ((Invoke-W32tm @('/config', '/update')) -ne 0) {
        Restart-Service -Name W32Time -Force
    }
}

# True when the service got time from its peer. Right after a restart the
# service may not be ready for a resync yet, so try a few times.
function Invoke-Resync() {
    for ($attempt = 1; $attempt -le 3; $attempt++) {
        if ((Invoke-W32tm @('/resync', '/force')) -eq 0) { return $true }
        if ($attempt -lt 3) { Start-Sleep -Seconds 2 }
    }
    return $false
}

# --- commands --------------------------------------------------------------------

function Install-Setup([string]$Address) {
    Assert-Admin
    Assert-TimeService
    $snapshot = Get-Snapshot
    try {
        if (-not $snapshot.HadRecord) {
            # First install: keep what is in force now, for the removal. A
            # re-install keeps the settings kept the first time.
            Remove-Key $PreviousSubKey
            Save-KeptSettings $snapshot.Time
        }
        $hasPrevious = 0
        if (Test-Key $PreviousSubKey) { $hasPrevious = 1 }
        Set-TimeSettings @{
            NtpServer = "$Address,0x9"
            Type = 'NTP'
            SpecialPollInterval = $PollSeconds
            Start = 2
        }
        Write-Value $RecordSubKey 'Server' $Address ([Microsoft.Win32.RegistryValueKind]::String)
        Write-Value $RecordSubKey 'HasPrevious' $hasPrevious ([Microsoft.Win32.RegistryValueKind]::DWord)
        Update-TimeService
    } catch {
        Restore-Snapshot $snapshot
        Fail $ExitChangeFailed "setting up failed: $($_.Exception.Message) (the earlier settings are back in place)"
    }
    if (-not (Invoke-Resync)) { exit $ExitNoAnswer }
    exit 0
}

function Remove-Setup() {
    Assert-Admin
    Assert-TimeService
    $snapshot = Get-Snapshot
    if (-not $snapshot.HadRecord) { exit 0 }
    try {
        if ([int]$snapshot.HasPrevious -eq 1 -and $snapshot.HadPrevious) {
            Set-TimeSettings $snapshot.Previous
        } else {
            Set-TimeSettings @{
                NtpServer = $StandardPeer
                Type = $StandardType
                SpecialPollInterval = $StandardPollSeconds
                Start = $StandardStart
            }
        }
        Remove-Key $RecordSubKey
        Update-TimeService
    } catch {
        Restore-Snapshot $snapshot
        Fail $ExitChangeFailed "removal failed: $($_.Exception.Message) (the earlier settings are back in place)"
    }
    exit 0
}

function Sync-Now() {
    Assert-Admin
    Assert-TimeService
    if (-not (Test-Key $RecordSubKey)) {
        Fail $ExitNotSetUp 'this computer is not set up to sync with a Tavrin server'
    }
    try { Update-TimeService } catch { Fail $ExitChangeFailed "the time service did not start: $($_.Exception.Message)" }
    if (-not (Invoke-Resync)) { exit $ExitNoAnswer }
    exit 0
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
