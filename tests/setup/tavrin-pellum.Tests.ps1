# The Windows setup script, dot-sourced into a real PowerShell. Only its
# boundary is replaced: the machine registry (in memory here), sc.exe and
# w32tm.exe (recorded; sc.exe acts on the triggers as the service manager
# would), the service controller, the administrator check and domain
# membership. The SNTP probe is real: pester.sh runs these tests in a network
# namespace with a test server answering on 127.0.0.1 and a silent one on
# 127.0.0.2, and no route anywhere else.

BeforeAll {
    $ScriptPath = (Resolve-Path "$PSScriptRoot/../../setup/tavrin-pellum.ps1").Path
    . $ScriptPath
    $RealInvokeTool = ${function:Invoke-Tool}
    $SntpWaitMs = 500; $ConfirmWaitSeconds = 0; $script:World = @{}
    $Dword, $Text = [Microsoft.Win32.RegistryValueKind]::DWord, [Microsoft.Win32.RegistryValueKind]::String
    $TriggerKey = 'system\currentcontrolset\services\w32time\triggerinfo'
    # What the service manager writes for each word of sc.exe triggerinfo.
    $ScWords = @{ networkon = 2, '4f27f2de-14e2-430b-a549-7cd48cbc8245'; networkoff = 2, 'cc4ba62a-162e-4648-847a-b6bdf993e335'
        domainjoin = 3, '1ce20aba-9851-4421-9430-1ddeb766e809'; domainleave = 3, 'ddaf516e-58c2-4866-9574-c3b615d42ea1'
        machinepolicy = 5, '659fcae6-5bdb-4da9-b1ff-ca2a178d46e0' }

    function New-World([hashtable]$Values, [string[]]$Triggers, [bool]$Running) {
        $script:World = @{ Reg = @{ '' = @{} }; Calls = [Collections.Generic.List[string]]::new(); Steps = 0; FailAt = @()
            Admin = $true; Member = $false; Service = $true; Running = $Running; Hangs = $false; Resync = 0; Takes = $true
            Late = 0; Pending = $null; Source = 'Local CMOS Clock'; LastSync = 'unspecified'; Said = @() }
        # Keys that every Windows has, whatever their values.
        foreach ($path in $ParametersSubKey, $NtpClientSubKey, 'SOFTWARE\Policies') { Set-Fake $path }
        foreach ($path in $Values.Keys) { foreach ($n in $Values[$path].Keys) { Set-Fake $path $n @($Values[$path][$n]) } }
        if ($null -ne $Triggers) { Set-FakeTriggers $Triggers }
        $World.Live = Get-Dump $TriggerKey
    }
    function Set-Fake([string]$Path, [string]$Name, $Data) {
        $path = $Path.ToLowerInvariant(); $parts = $path.Split('\')
        foreach ($i in 1..$parts.Count) { $at = $parts[0..($i - 1)] -join '\'; if (-not $World.Reg.ContainsKey($at)) { $World.Reg[$at] = @{} } }
        if ($Name -ne '') { $World.Reg[$path][$Name] = @{ Value = $Data[0]; Kind = [Microsoft.Win32.RegistryValueKind]$Data[1] } }
    }
    # sc.exe triggerinfo: replaces all the triggers, live and in the registry.
    function Set-FakeTriggers([string[]]$Words) {
        Remove-FakeKey $TriggerKey
        for ($i = 0; $i -lt $Words.Count -and $Words[0] -ne 'delete'; $i++) {
            $action, $word = $Words[$i].Split('/')
            Set-Fake "$TriggerKey\$i" 'Type' @($ScWords[$word][0], $Dword)
            Set-Fake "$TriggerKey\$i" 'Action' @(@{ start = 1; stop = 2 }[$action], $Dword)
            Set-Fake "$TriggerKey\$i" 'GUID' @(([Guid]$ScWords[$word][1]).ToByteArray(), 'Binary')
        }
        $World.Live = Get-Dump $TriggerKey
    }
    function Remove-FakeKey([string]$Path) {
        foreach ($k in @($World.Reg.Keys)) { if ($k -eq $Path -or $k.StartsWith("$Path\")) { $World.Reg.Remove($k) } }
    }
    # Every key and value under `Under`, one sorted line each.
    function Get-Dump([string]$Under = '') {
        $lines = foreach ($k in $World.Reg.Keys) {
            if ($Under -ne '' -and $k -ne $Under -and -not $k.StartsWith("$Under\")) { continue }
            "[$k]"; foreach ($n in $World.Reg[$k].Keys) { $v = $World.Reg[$k][$n]; "[$k] $n ($($v.Kind)) = $($v.Value)" }
        }
        (@($lines) | Sort-Object) -join "`n"
    }
    # Each change the script makes is a step; a case may make some fail.
    function Step([string]$What) {
        $World.Calls.Add($What)
        if ($World.FailAt -contains ++$World.Steps) { throw "injected failure at step $($World.Steps) ($What)" }
    }
    function New-FakeKey([string]$Path) { $key = $KeyTemplate.psobject.Copy(); $key.Path = $Path; $key }
    $KeyTemplate = [pscustomobject]@{ Path = '' }
    @{  Full = { param($sub) (($this.Path, $sub.ToLowerInvariant()) | Where-Object { $_ }) -join '\' }
        OpenSubKey = { param($sub, $writable) $p = $this.Full($sub); if ($World.Reg.ContainsKey($p)) { New-FakeKey $p } }
        CreateSubKey = { param($sub) Step "create $sub"; $p = $this.Full($sub); Set-Fake $p; New-FakeKey $p }
        DeleteSubKeyTree = { param($sub, $throw) Step "delete $sub"; Remove-FakeKey $this.Full($sub) }
        GetValue = { param($name, $default, $options) $v = $World.Reg[$this.Path][$name]; if ($null -eq $v) { $default } else { , $v.Value } }
        GetValueKind = { param($name) $World.Reg[$this.Path][$name].Kind }
        GetValueNames = { , [string[]]@($World.Reg[$this.Path].Keys) }
        GetSubKeyNames = { $prefix = ($this.Path + '\').TrimStart('\')
            , [string[]]@($World.Reg.Keys | Where-Object { $_ -like "${prefix}?*" -and $_.Substring($prefix.Length) -notlike '*\*' } | ForEach-Object { $_.Substring($prefix.Length) }) }
        SetValue = { param($name, $value, $kind) Step "set $name"; $World.Reg[$this.Path][$name] = @{ Value = $value; Kind = $kind } }
        DeleteValue = { param($name, $throw) Step "delete $name"; $World.Reg[$this.Path].Remove($name) }
        Close = { }
    }.GetEnumerator() | ForEach-Object { $KeyTemplate | Add-Member ScriptMethod $_.Key $_.Value }

    # --- the replaced boundary -------------------------------------------------
    function Open-Machine() { New-FakeKey '' }
    function Test-Admin() { $World.Admin }
    function Test-DomainMember() { if ($World.Member -is [string]) { throw $World.Member }; $World.Member }
    function Set-TimeServiceStartup([string]$Startup) { Step "startup $Startup" }
    function Get-TimeService() { if ($World.Service) { $Service } }
    $Service = [pscustomobject]@{} | Add-Member ScriptProperty Status { if ($World.Running) { 'Running' } else { 'Stopped' } } -PassThru |
        Add-Member ScriptMethod Start { Step 'start'; $World.Running = $World.Running -or -not $World.Hangs } -PassThru |
        Add-Member ScriptMethod Stop { Step 'stop'; $World.Running = $World.Running -and $World.Hangs } -PassThru |
        Add-Member ScriptMethod WaitForStatus { param($status, $limit) if ($World.Hangs) { throw [TimeoutException]::new('no answer') } } -PassThru
    function Invoke-Tool([string]$Program, [string[]]$Arguments, [int]$LimitSeconds) {
        $line = "$([IO.Path]::GetFileName($Program)) $Arguments"
        switch -Wildcard ($line) {
            'sc.exe triggerinfo w32time *' { Step $line; Set-FakeTriggers $Arguments[2..9] }
            'w32tm.exe /config /syncfromflags:domhier' { Step $line; Set-Fake $ParametersSubKey 'Type' @('NT5DS', $Text) }
            'w32tm.exe /config /update' { Step $line }
            'w32tm.exe /resync*' {
                $World.Calls.Add($line)
                if ($World.Resync -eq 0 -and $World.Takes) { $World.Pending = "$(Read-Value $ParametersSubKey 'NtpServer')", "5:$($World.Calls.Count) AM" }
                return @{ Code = $World.Resync; Lines = @('The command completed successfully.') }
            }
            'w32tm.exe /query /status' {
                # The status may show a sync only some looks later.
                if ($null -ne $World.Pending -and $World.Late-- -le 0) { $World.Source, $World.LastSync = $World.Pending; $World.Pending = $null }
                return @{ Code = 0; Lines = 'Leap Indicator: 0(no warning)', 'Stratum: 2 (secondary reference - syncd by (S)NTP)',
                    'ReferenceId: 0x7F000001 (source IP:  127.0.0.1)', "Last Successful Sync Time: $($World.LastSync)", "Source: $($World.Source)" }
            }
            default { throw "unexpected tool call: $line" }
        }
        @{ Code = 0; Lines = @() }
    }
    function Set-Date { $World.Calls.Add('Set-Date') }
    function Write-Message([string]$Text) { $World.Said += $Text }
    # Runs one command line; returns its exit code.
    function Run([string]$Command, [string]$Address = '', [string]$When = '') {
        $World.Said = @(); $World.Steps = 0
        Invoke-CommandLine $Command $Address $When @()
    }

    $Workgroup = @{
        $ParametersSubKey = @{ NtpServer = 'time.windows.com,0x9', $Text; Type = 'NTP', $Text }
        $NtpClientSubKey = @{ SpecialPollInterval = 604800, $Dword; Enabled = 1, $Dword }
        $ServiceSubKey = @{ Start = 3, $Dword; DisplayName = '@%SystemRoot%\system32\w32time.dll,-200', 'ExpandString' }
    }
    $Disabled = @{ $ParametersSubKey = $Workgroup[$ParametersSubKey]; $ServiceSubKey = @{ Start = 4, $Dword } }
    $Bare = @{ $ServiceSubKey = @{ Start = 3, $Dword } }
    New-World @{} @('start/networkon', 'stop/networkoff') $false; $NetworkTriggers = $World.Live
}

BeforeDiscovery {
    $States = @(
        @{ Name = 'workgroup defaults'; Values = 'Workgroup'; Triggers = 'start/domainjoin', 'stop/domainleave'; Running = $false }
        @{ Name = 'the service disabled'; Values = 'Disabled'; Triggers = $null; Running = $false }
        @{ Name = 'triggers of another program'; Values = 'Workgroup'; Triggers = 'start/machinepolicy', 'stop/networkoff'; Running = $true }
        @{ Name = 'values absent'; Values = 'Bare'; Triggers = $null; Running = $true }
    )
}

Describe 'install, then remove' {
    It 'leaves everything as it was, from <Name>' -ForEach $States {
        # Fault: a removal that leaves our values, loses absent ones, changes their kinds, or keeps the triggers or the running service as set up.
        New-World (Get-Variable $Values -ValueOnly) $Triggers $Running
        $registry = Get-Dump; $live = $World.Live
        Run 'install' '127.0.0.1' | Should -Be 0
        Read-Value $ParametersSubKey 'NtpServer' | Should -Be '127.0.0.1,0x9'
        Read-Value $RecordSubKey 'Server' | Should -Be '127.0.0.1'
        $World.Live | Should -Be $NetworkTriggers
        $World.Running | Should -BeTrue
        Run 'install' '127.0.0.1' | Should -Be 0   # a second install keeps the first one's copy
        Run 'remove' | Should -Be 0
        Get-Dump | Should -Be $registry
        $World.Live | Should -Be $live
        $World.Running | Should -Be $Running
    }

    It 'hands a computer joined to a domain since the set-up back to the domain' {
        # Fault: removal on a domain member restores the workgroup peer, and the computer leaves the domain hierarchy Kerberos needs.
        New-World $Workgroup @('start/domainjoin', 'stop/domainleave') $true
        Run 'install' '127.0.0.1' | Should -Be 0
        $World.Member = $true
        Run 'sync' | Should -Be 9
        Run 'remove' | Should -Be 0
        Read-Value $ParametersSubKey 'Type' | Should -Be 'NT5DS'
        Test-Key $RecordSubKey | Should -BeFalse
    }
}

Describe 'a failure part-way' {
    It 'at any step of <_> puts everything back and says so' -ForEach 'install', 'remove' {
        # Fault: a failed step leaves half a set-up, skips restore steps after the first failing one, or touches triggers it never changed.
        $command = $_
        for ($step = 1; $step -eq 1 -or $World.Steps -ge $step; $step++) {
            New-World $Workgroup @('start/domainjoin', 'stop/domainleave') ($command -eq 'remove')
            if ($command -eq 'remove') { Run 'install' '127.0.0.1' | Should -Be 0 }
            $registry = Get-Dump; $live = $World.Live; $running = $World.Running; $World.Calls.Clear()
            $World.FailAt = $step
            $code = Run $command '127.0.0.1'.Substring(0, 9 * ($command -eq 'install'))
            if ($World.Steps -lt $step) { break }
            $code | Should -Be 5 -Because "step $step"
            $World.Said[-1] | Should -Match "injected failure at step $step .*back in place"
            Get-Dump | Should -Be $registry -Because "step $step"
            $World.Live | Should -Be $live -Because "step $step"
            $World.Running | Should -Be $running -Because "step $step"
            if (-not ($World.Calls -match 'networkon')) { $World.Calls | Should -Not -Match 'sc.exe triggerinfo' -Because "step $step" }
        }
        $step | Should -BeGreaterThan 10
    }

    It 'that the restore cannot mend has a code and a message of its own, and the other pieces are still put back' {
        # Fault: exit 5 says "the earlier settings are back in place" while the restore failed, or its first failing piece skips the rest.
        New-World $Workgroup @('start/domainjoin') $false
        $live = $World.Live
        Run 'install' '127.0.0.1' | Should -Be 0
        $triggers = 1 + $World.Calls.IndexOf('sc.exe triggerinfo w32time start/networkon stop/networkoff')
        New-World $Workgroup @('start/domainjoin') $false
        $World.FailAt = $triggers, ($triggers + 1)   # the triggers, then the first piece put back
        Run 'install' '127.0.0.1' | Should -Be 11
        $World.Said[-1] | Should -Match 'putting back the earlier settings failed too: the time settings \(.*injected'
        $World.Live | Should -Be $live
        Test-Key $RecordSubKey | Should -BeFalse
        $World.Running | Should -BeFalse
    }
}

Describe 'exit codes' {
    BeforeEach { New-World $Workgroup @('start/domainjoin', 'stop/domainleave') $false }

    It 'refuses <_> with 2, changing nothing' -ForEach 'uninstall', 'install', 'install 10.0.0.256', 'install 010.0.0.5', 'install 0.0.0.0',
            'install 0.1.2.3', 'install 224.0.0.1', 'install 239.255.255.250', 'install 240.0.0.1', 'install 255.255.255.255',
            'install 10.0.0.5;reboot', 'remove 10.0.0.5', 'set-time 2026-02-30T08:15:00Z' {
        # Fault: an address that cannot be one time server, or a malformed command, reaches the time service.
        $command, $argument = $_ -split ' ', 2
        $registry = Get-Dump
        if ($command -eq 'set-time') { Run $command '' $argument | Should -Be 2 } else { Run $command $argument | Should -Be 2 }
        $World.Said[-1] | Should -Match 'usage'
        $World.Calls | Should -BeNullOrEmpty
        Get-Dump | Should -Be $registry
    }

    It 'ends <Name> with <Code>, changing nothing' -ForEach @(
        @{ Name = 'install without administrator rights'; Code = 4; Set = { $World.Admin = $false } }
        @{ Name = 'set-time without administrator rights'; Code = 4; Set = { $World.Admin = $false }; Time = '2026-03-01T08:15:00Z' }
        @{ Name = 'install without the time service'; Code = 6; Set = { $World.Service = $false } }
        @{ Name = 'sync while not set up'; Code = 7; Set = { }; Command = 'sync' }
        @{ Name = 'install on a domain member'; Code = 9; Set = { $World.Member = $true } }
        @{ Name = 'install when membership cannot be told'; Code = 9; Set = { $World.Member = 'no answer' } }
        @{ Name = 'install under a policy that switches the NTP client off'; Code = 9; Set = { Set-Fake "$PolicySubKey\TimeProviders\NtpClient" 'Enabled' 0, $Dword } }
        @{ Name = 'install under a policy with correction limits'; Code = 9; Set = { Set-Fake "$PolicySubKey\Config" 'MaxPosPhaseCorrection' 3600, $Dword } }
        @{ Name = 'install under a policy naming a peer'; Code = 9; Set = { Set-Fake "$PolicySubKey\Parameters" 'NtpServer' 'x', $Text } }
        @{ Name = 'install when the service does not start in time'; Code = 13; Set = { $World.Hangs = $true } }
    ) {
        # Fault: a refusal or a failure read as another outcome, or one that changed the computer.
        & $Set
        $registry = Get-Dump
        if ($_.ContainsKey('Time')) { Run 'set-time' '' $Time | Should -Be $Code }
        elseif ($_.ContainsKey('Command')) { Run $Command | Should -Be $Code }
        else { Run 'install' '127.0.0.1' | Should -Be $Code }
        Get-Dump | Should -Be $registry
        $World.Calls | Should -Not -Contain 'Set-Date'
    }

    It 'ends install and sync with <Code> for <Name>, set up' -ForEach @(
        @{ Name = 'a silent server'; Code = 3; Address = '127.0.0.2'; Set = { } }
        @{ Name = 'a server with no route to it'; Code = 3; Address = '192.0.2.1'; Set = { } }
        @{ Name = 'a resync that fails'; Code = 10; Address = '127.0.0.1'; Set = { $World.Resync = 1 } }
        @{ Name = 'a resync that says done but syncs nothing'; Code = 10; Address = '127.0.0.1'; Set = { $World.Takes = $false } }
        @{ Name = 'a sync that shows in the status only after two looks'; Code = 10; Address = '127.0.0.1'; Set = { $World.Late = 2; $World.Pending = $null } }
        @{ Name = 'a sync that shows in the status at the second look'; Code = 0; Address = '127.0.0.1'; Set = { $World.Late = 1 } }
        @{ Name = 'a resync that does not end'; Code = 14; Address = '127.0.0.1'; Set = { $World.Resync = $null } }
    ) {
        # Fault: a finished install reported as failed, or a sync the time service never took reported as done.
        & $Set
        Run 'install' $Address | Should -Be $Code
        Read-Value $RecordSubKey 'Server' | Should -Be $Address
        & $Set
        Run 'sync' | Should -Be $Code
    }

    It 'refuses to sync once the service''s <_> was changed outside Tavrin Pellum' -ForEach 'NtpServer', 'Type' {
        # Fault: a sync that goes to whatever the service follows now is reported as a sync with the chosen server.
        Run 'install' '127.0.0.1' | Should -Be 0
        Set-Fake $ParametersSubKey $_ 'time.windows.com,0x9', $Text
        $World.Calls.Clear()
        Run 'sync' | Should -Be 12
        $World.Said[-1] | Should -Match 'changed outside Tavrin Pellum'
        $World.Calls | Should -Not -Contain 'w32tm.exe /resync /rediscover'
    }
}

Describe 'the running process' {
    It 'loads no module from the user''s folders' {
        # Fault: a module planted in a user-writable folder of the module path runs elevated as soon as the script calls a cmdlet it exports.
        $plant = New-Item -ItemType Directory "$TestDrive/plant/Planted"
        Set-Content "$plant/Planted.psm1" "function Get-Service { Set-Content '$TestDrive/ran' x }"
        Set-Content "$plant/Planted.psd1" "@{ ModuleVersion = '1.0'; RootModule = 'Planted.psm1'; FunctionsToExport = 'Get-Service' }"
        $env:PSModulePath, $kept = "$TestDrive/plant", $env:PSModulePath
        try { & $env:PELLUM_PWSH -NoProfile -NonInteractive -Command ". '$ScriptPath'; Protect-Session; try { Get-Service } catch { }; Join-Path a b" | Should -Be (Join-Path a b) }
        finally { $env:PSModulePath = $kept }
        "$TestDrive/ran" | Should -Not -Exist
    }

    It 'reads a tool''s error output as text and ends a tool at its time limit' {
        # Fault: under 'Stop' a tool's first line on standard error ends the script, and a tool that hangs holds the program's wait cursor for good.
        Set-Content "$TestDrive/tool" "#!/bin/sh`necho working`necho 'The service has not been started. (0x80070426)' >&2`n[ `"`$1`" = hang ] && exec sleep 30`nexit 3"
        chmod +x "$TestDrive/tool"
        $ErrorActionPreference = 'Stop'
        Get-ToolReason (& $RealInvokeTool "$TestDrive/tool" @('fail') 10) | Should -Be 'exit 3: The service has not been started. (0x80070426)'
        (Measure-Command { $result = & $RealInvokeTool "$TestDrive/tool" @('hang') 1 }).TotalSeconds | Should -BeLessThan 10
        $result.Code | Should -BeNullOrEmpty
    }

    It 'uses nothing that Windows PowerShell 5.1 lacks' {
        # Fault: syntax or a parameter that only PowerShell 7 knows, which fails when powershell.exe runs the script.
        $newer = @{ 'Join-Path' = 'AdditionalChildPath'; 'Sort-Object' = 'Top|Bottom|Stable'; 'Import-Module' = 'UseWindowsPowerShell|SkipEditionCheck'
            'ForEach-Object' = 'Parallel|ThrottleLimit'; 'Start-Sleep' = 'Duration'; 'Set-Service' = 'SecurityDescriptorSddl|Force' }
        $findNewer = { param($source)
            $errors = $null
            $ast = [System.Management.Automation.Language.Parser]::ParseInput($source, [ref]$null, [ref]$errors)
            $errors | ForEach-Object Message
            foreach ($node in $ast.FindAll({ $true }, $true)) {
                $kind = $node.GetType().Name
                if ($kind -in 'TernaryExpressionAst', 'PipelineChainAst' -or ($node.psobject.Properties['NullConditional'] -and $node.NullConditional) -or
                    ($kind -in 'BinaryExpressionAst', 'AssignmentStatementAst' -and $node.Operator -like 'QuestionQuestion*')) { "$kind at line $($node.Extent.StartLineNumber)" }
                if ($kind -eq 'CommandAst' -and $newer.ContainsKey([string]$node.GetCommandName())) {
                    $node.CommandElements | Where-Object { $_.psobject.Properties['ParameterName'] -and $_.ParameterName -match "^($($newer[$node.GetCommandName()]))" }
                }
            }
        }
        & $findNewer (Get-Content -Raw $ScriptPath) | Should -BeNullOrEmpty
        foreach ($planted in '$a = $b ? 1 : 2', '$a = $b ?? 1', '$a ??= 1', 'Get-A && Get-B', '$a = ${b}?.Count', 'Join-Path a b -AdditionalChildPath c', '$a = @(1') {
            & $findNewer $planted | Should -Not -BeNullOrEmpty -Because "$planted must be found"
        }
    }
}
