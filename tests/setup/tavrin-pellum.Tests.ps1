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
    $SntpWaitMs = 500
    $script:World = @{}
    $ConfirmWaitSeconds = 0
    $Dword = [Microsoft.Win32.RegistryValueKind]::DWord
    $Text = [Microsoft.Win32.RegistryValueKind]::String
    $Binary = [Microsoft.Win32.RegistryValueKind]::Binary
    $TriggerKey = 'system\currentcontrolset\services\w32time\triggerinfo'
    # What the service manager writes for each word of sc.exe triggerinfo.
    $ScWords = @{
        networkon = @(2, '4f27f2de-14e2-430b-a549-7cd48cbc8245'); networkoff = @(2, 'cc4ba62a-162e-4648-847a-b6bdf993e335')
        domainjoin = @(3, '1ce20aba-9851-4421-9430-1ddeb766e809'); domainleave = @(3, 'ddaf516e-58c2-4866-9574-c3b615d42ea1')
        machinepolicy = @(5, '659fcae6-5bdb-4da9-b1ff-ca2a178d46e0')
    }

    # --- the world the script sees -------------------------------------------
    function New-World([hashtable]$Values, [string[]]$Triggers, [bool]$Running) {
        $script:World = @{ Reg = @{ '' = @{} }; Calls = [Collections.Generic.List[string]]::new(); Steps = 0
            FailAt = 0; FailFrom = 0; StepLog = @(); Admin = $true; Member = $false; Service = $true; Running = $Running
            Hangs = $false; Resync = 0; ResyncTakes = $true; Late = 0; Pending = $null; Source = 'Local CMOS Clock'; LastSync = 'unspecified'; Said = @() }
        # Keys that every Windows has, whatever their values.
        foreach ($path in $ParametersSubKey, $NtpClientSubKey, 'SOFTWARE\Policies') { Set-Fake $path $null }
        foreach ($path in $Values.Keys) {
            foreach ($name in $Values[$path].Keys) { Set-Fake $path $name $Values[$path][$name][0] $Values[$path][$name][1] }
        }
        if ($null -ne $Triggers) { Set-FakeTriggers $Triggers }
        $script:World.Live = Get-Dump $TriggerKey
    }
    function Set-Fake([string]$Path, [string]$Name, $Value, $Kind) {
        $path = $Path.ToLowerInvariant()
        $parts = $path.Split('\'); for ($i = 1; $i -le $parts.Count; $i++) {
            $at = $parts[0..($i - 1)] -join '\'; if (-not $World.Reg.ContainsKey($at)) { $World.Reg[$at] = @{} } }
        if ($Name -ne '') { $World.Reg[$path][$Name] = @{ Value = $Value; Kind = [Microsoft.Win32.RegistryValueKind]$Kind } }
    }
    # sc.exe triggerinfo: replaces all the triggers, live and in the registry.
    function Set-FakeTriggers([string[]]$Words) {
        Remove-FakeKey $TriggerKey
        if ($Words -notcontains 'delete') {
            for ($i = 0; $i -lt $Words.Count; $i++) {
                $action, $word = $Words[$i].Split('/')
                $type, $guid = $ScWords[$word]
                Set-Fake "$TriggerKey\$i" 'Type' $type $Dword
                Set-Fake "$TriggerKey\$i" 'Action' (@{ start = 1; stop = 2 }[$action]) $Dword
                Set-Fake "$TriggerKey\$i" 'GUID' ([Guid]$guid).ToByteArray() $Binary
            }
        }
        $World.Live = Get-Dump $TriggerKey
    }
    function Remove-FakeKey([string]$Path) {
        $path = $Path.ToLowerInvariant()
        foreach ($k in @($World.Reg.Keys)) { if ($k -eq $path -or $k.StartsWith("$path\")) { $World.Reg.Remove($k) } }
    }
    # Every key and value under `Under`, one sorted line each.
    function Get-Dump([string]$Under = '') {
        $lines = foreach ($k in $World.Reg.Keys) {
            if ($Under -ne '' -and $k -ne $Under -and -not $k.StartsWith("$Under\")) { continue }
            "[$k]"
            foreach ($n in $World.Reg[$k].Keys) {
                $v = $World.Reg[$k][$n]
                "[$k] $n ($($v.Kind)) = $(if ($v.Value -is [byte[]]) { [BitConverter]::ToString($v.Value) } else { $v.Value })"
            }
        }
        return (@($lines) | Sort-Object) -join "`n"
    }
    # Each change the script makes is a step; a case may make one fail.
    function Step([string]$What) {
        $World.Steps++
        $World.StepLog += $What
        if ($World.FailAt -contains $World.Steps -or ($World.FailFrom -gt 0 -and $World.Steps -ge $World.FailFrom)) {
            throw "injected failure at step $($World.Steps) ($What)"
        }
    }
    function New-FakeKey([string]$Path) { $key = $KeyTemplate.psobject.Copy(); $key.Path = $Path; $key }
    $KeyTemplate = & {
        $key = [pscustomobject]@{ Path = '' }
        $full = { param($sub) if ($this.Path -eq '') { $sub.ToLowerInvariant() } else { "$($this.Path)\$($sub.ToLowerInvariant())" } }
        $key | Add-Member ScriptMethod Full $full
        $key | Add-Member ScriptMethod OpenSubKey { param($sub, $writable)
            $p = $this.Full($sub); if ($World.Reg.ContainsKey($p)) { New-FakeKey $p } else { $null } }
        $key | Add-Member ScriptMethod CreateSubKey { param($sub) Step "create $sub"; $p = $this.Full($sub); Set-Fake $p $null; New-FakeKey $p }
        $key | Add-Member ScriptMethod DeleteSubKeyTree { param($sub, $throw) Step "delete $sub"; Remove-FakeKey $this.Full($sub) }
        $key | Add-Member ScriptMethod GetValue { param($name, $default, $options)
            $v = $World.Reg[$this.Path][$name]; if ($null -eq $v) { $default } else { , $v.Value } }
        $key | Add-Member ScriptMethod GetValueKind { param($name) $World.Reg[$this.Path][$name].Kind }
        $key | Add-Member ScriptMethod GetValueNames { , [string[]]@($World.Reg[$this.Path].Keys) }
        $key | Add-Member ScriptMethod GetSubKeyNames {
            $prefix = if ($this.Path -eq '') { '' } else { "$($this.Path)\" }
            , [string[]]@($World.Reg.Keys | Where-Object { $_ -ne '' -and $_.StartsWith($prefix) -and $_.Substring($prefix.Length) -notmatch '\\' -and $_ -ne $this.Path } |
                ForEach-Object { $_.Substring($prefix.Length) }) }
        $key | Add-Member ScriptMethod SetValue { param($name, $value, $kind) Step "set $name"
            $World.Reg[$this.Path][$name] = @{ Value = $value; Kind = [Microsoft.Win32.RegistryValueKind]$kind } }
        $key | Add-Member ScriptMethod DeleteValue { param($name, $throw) Step "delete $name"; $World.Reg[$this.Path].Remove($name) }
        $key | Add-Member ScriptMethod Close { }
        $key
    }

    # --- the replaced boundary -------------------------------------------------
    $RealInvokeTool = ${function:Invoke-Tool}
    function Open-Machine() { New-FakeKey '' }
    function Test-Admin() { $World.Admin }
    function Test-DomainMember() { if ($World.Member -is [string]) { throw $World.Member }; $World.Member }
    function Set-TimeServiceStartup([string]$Startup) { Step "startup $Startup"; $World.Calls.Add("startup $Startup") }
    function Get-TimeService() { if ($World.Service) { $Service } }
    $Service = & {
        $service = [pscustomobject]@{}
        $service | Add-Member ScriptProperty Status { if ($World.Running) { 'Running' } else { 'Stopped' } }
        $service | Add-Member ScriptMethod Start { Step 'start'; $World.Calls.Add('start'); if (-not $World.Hangs) { $World.Running = $true } }
        $service | Add-Member ScriptMethod Stop { Step 'stop'; $World.Calls.Add('stop'); if (-not $World.Hangs) { $World.Running = $false } }
        $service | Add-Member ScriptMethod WaitForStatus { param($status, $limit)
            if ($World.Hangs) { throw [TimeoutException]::new('the service did not answer') } }
        $service
    }
    function Invoke-Tool([string]$Program, [string[]]$Arguments, [int]$LimitSeconds) {
        $line = "$([IO.Path]::GetFileName($Program)) $($Arguments -join ' ')"
        $World.Calls.Add($line)
        switch -Wildcard ($line) {
            'sc.exe triggerinfo w32time *' { Step $line; Set-FakeTriggers $Arguments[2..($Arguments.Count - 1)]; return @{ Code = 0; Lines = @() } }
            'w32tm.exe /config /syncfromflags:domhier' { Step $line; Set-Fake $ParametersSubKey 'Type' 'NT5DS' $Text; return @{ Code = 0; Lines = @() } }
            'w32tm.exe /config /update' { Step $line; return @{ Code = 0; Lines = @() } }
            'w32tm.exe /resync*' {
                if ($World.Resync -eq 0 -and $World.ResyncTakes) {
                    $World.Pending = @("$((Read-Value $ParametersSubKey 'NtpServer'))", "12/9/2026 5:$($World.Calls.Count):00 AM") }
                return @{ Code = $World.Resync; Lines = @('The command completed successfully.') }
            }
            'w32tm.exe /query /status' {
                # The status may show a sync only some looks later.
                if ($null -ne $World.Pending -and $World.Late-- -le 0) { $World.Source, $World.LastSync = $World.Pending; $World.Pending = $null }
                return @{ Code = 0; Lines = @('Leap Indicator: 0(no warning)', 'Stratum: 2 (secondary reference - syncd by (S)NTP)',
                    'ReferenceId: 0x7F000001 (source IP:  127.0.0.1)', "Last Successful Sync Time: $($World.LastSync)",
                    "Source: $($World.Source)", 'Poll Interval: 10 (1024s)') }
            }
        }
        throw "unexpected tool call: $line"
    }
    function Set-Date { $World.Calls.Add('Set-Date') }
    function Write-Message([string]$Text) { $World.Said += $Text }

    # Runs one command line; returns its exit code.
    function Run([string]$Command, [string]$Address = '', [string]$When = '', [string[]]$Extra = @()) {
        $World.Said = @(); $World.Steps = 0; $World.StepLog = @()
        Invoke-CommandLine $Command $Address $When $Extra
    }
    # The live triggers that sc.exe would leave with these words.
    function Get-Triggers([string[]]$Words) {
        $kept = $script:World; New-World @{} $Words $false; $dump = $World.Live; $script:World = $kept; $dump
    }

    $Workgroup = @{
        $ParametersSubKey = @{ NtpServer = @('time.windows.com,0x9', $Text); Type = @('NTP', $Text) }
        $NtpClientSubKey = @{ SpecialPollInterval = @(604800, $Dword); Enabled = @(1, $Dword) }
        $ServiceSubKey = @{ Start = @(3, $Dword); DisplayName = @('@%SystemRoot%\system32\w32time.dll,-200', [Microsoft.Win32.RegistryValueKind]::ExpandString) }
    }
    $Disabled = @{ $ParametersSubKey = $Workgroup[$ParametersSubKey]; $ServiceSubKey = @{ Start = @(4, $Dword) } }
    $Bare = @{ $ServiceSubKey = @{ Start = @(3, $Dword) } }
    $NetworkTriggers = Get-Triggers @('start/networkon', 'stop/networkoff')
}

BeforeDiscovery {
    $States = @(
        @{ Name = 'workgroup defaults'; Values = 'Workgroup'; Triggers = @('start/domainjoin', 'stop/domainleave'); Running = $false }
        @{ Name = 'the service disabled'; Values = 'Disabled'; Triggers = $null; Running = $false }
        @{ Name = 'triggers of another program'; Values = 'Workgroup'; Triggers = @('start/machinepolicy', 'stop/networkoff'); Running = $true }
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
        $World.Calls | Should -Contain 'w32tm.exe /config /syncfromflags:domhier'
        Read-Value $ParametersSubKey 'Type' | Should -Be 'NT5DS'
        Test-Key $RecordSubKey | Should -BeFalse
    }
}

Describe 'a failure part-way' {
    It 'at any step of install puts everything back and says so' {
        # Fault: a failed install leaves half a set-up, skips restore steps after the first failing one, or touches triggers it never changed.
        New-World $Workgroup @('start/domainjoin', 'stop/domainleave') $false
        $registry = Get-Dump; $live = $World.Live
        Run 'install' '127.0.0.1' | Should -Be 0
        $steps = $World.Steps
        $steps | Should -BeGreaterThan 10
        foreach ($step in 1..$steps) {
            New-World $Workgroup @('start/domainjoin', 'stop/domainleave') $false
            $World.FailAt = $step
            Run 'install' '127.0.0.1' | Should -Be 5 -Because "step $step"
            $World.Said[-1] | Should -Match "injected failure at step $step .*back in place"
            Get-Dump | Should -Be $registry -Because "step $step"
            $World.Live | Should -Be $live -Because "step $step"
            $World.Running | Should -BeFalse -Because "step $step"
            if (-not ($World.Calls -match 'networkon')) { $World.Calls | Should -Not -Match 'triggerinfo' -Because "step $step" }
        }
    }

    It 'at any step of remove keeps the set-up and says so' {
        # Fault: a failed removal leaves neither the set-up nor the earlier settings.
        foreach ($step in 1..40) {
            New-World $Workgroup @('start/domainjoin', 'stop/domainleave') $true
            Run 'install' '127.0.0.1' | Should -Be 0
            $registry = Get-Dump; $live = $World.Live
            $World.FailAt = $step
            $code = Run 'remove'
            if ($World.Steps -lt $step) { $step | Should -BeGreaterThan 10; break }
            $code | Should -Be 5 -Because "step $step"
            Get-Dump | Should -Be $registry -Because "step $step"
            $World.Live | Should -Be $live -Because "step $step"
            $World.Running | Should -BeTrue -Because "step $step"
        }
    }

    It 'that the restore cannot mend has a code and a message of its own, and the other pieces are still put back' {
        # Fault: exit 5 says "the earlier settings are back in place" while the restore failed, or its first failing piece skips the rest.
        New-World $Workgroup @('start/domainjoin') $false
        $live = $World.Live
        Run 'install' '127.0.0.1' | Should -Be 0
        $triggers = 1 + [array]::IndexOf($World.StepLog, 'sc.exe triggerinfo w32time start/networkon stop/networkoff')
        New-World $Workgroup @('start/domainjoin') $false
        $World.FailAt = @($triggers, ($triggers + 1))   # the triggers, then the first piece put back
        Run 'install' '127.0.0.1' | Should -Be 11
        $World.Said[-1] | Should -Match 'putting back the earlier settings failed too: the time settings \(.*injected'
        $World.Live | Should -Be $live
        Test-Key $RecordSubKey | Should -BeFalse
        $World.Running | Should -BeFalse
    }
}

Describe 'exit codes' {
    BeforeEach { New-World $Workgroup @('start/domainjoin', 'stop/domainleave') $false }

    It 'refuses <Line> with 2, changing nothing' -ForEach @(
        @{ Line = 'uninstall'; Cmd = 'uninstall'; Ip = '' }, @{ Line = 'install'; Cmd = 'install'; Ip = '' }
        @{ Line = 'install 10.0.0.256'; Cmd = 'install'; Ip = '10.0.0.256' }, @{ Line = 'install 010.0.0.5'; Cmd = 'install'; Ip = '010.0.0.5' }
        @{ Line = 'install 0.0.0.0'; Cmd = 'install'; Ip = '0.0.0.0' }, @{ Line = 'install 0.1.2.3'; Cmd = 'install'; Ip = '0.1.2.3' }
        @{ Line = 'install 224.0.0.1'; Cmd = 'install'; Ip = '224.0.0.1' }, @{ Line = 'install 239.255.255.250'; Cmd = 'install'; Ip = '239.255.255.250' }
        @{ Line = 'install 240.0.0.1'; Cmd = 'install'; Ip = '240.0.0.1' }, @{ Line = 'install 255.255.255.255'; Cmd = 'install'; Ip = '255.255.255.255' }
        @{ Line = 'install 10.0.0.5;reboot'; Cmd = 'install'; Ip = '10.0.0.5;reboot' }, @{ Line = 'remove 10.0.0.5'; Cmd = 'remove'; Ip = '10.0.0.5' }
        @{ Line = 'set-time 2026-02-30'; Cmd = 'set-time'; Ip = ''; When = '2026-02-30T08:15:00Z' }
    ) {
        # Fault: an address that cannot be one time server, or a malformed command, reaches the time service.
        $registry = Get-Dump
        Run $Cmd $Ip $(if ($_.ContainsKey('When')) { $When } else { '' }) | Should -Be 2
        $World.Said[-1] | Should -Match 'usage'
        $World.Calls | Should -BeNullOrEmpty
        Get-Dump | Should -Be $registry
    }

    It 'ends <Name> with <Code>' -ForEach @(
        @{ Name = 'install without administrator rights'; Code = 4; Set = { $World.Admin = $false } }
        @{ Name = 'install without the time service'; Code = 6; Set = { $World.Service = $false } }
        @{ Name = 'install on a domain member'; Code = 9; Set = { $World.Member = $true } }
        @{ Name = 'install when membership cannot be told'; Code = 9; Set = { $World.Member = 'no answer' } }
        @{ Name = 'install under a policy that switches the NTP client off'; Code = 9
            Set = { Set-Fake "$PolicySubKey\TimeProviders\NtpClient" 'Enabled' 0 $Dword } }
        @{ Name = 'install under a policy with correction limits'; Code = 9
            Set = { Set-Fake "$PolicySubKey\Config" 'MaxPosPhaseCorrection' 3600 $Dword } }
        @{ Name = 'install under a policy naming a peer'; Code = 9; Set = { Set-Fake "$PolicySubKey\Parameters" 'NtpServer' 'x' $Text } }
        @{ Name = 'sync while not set up'; Code = 7; Set = { }; Cmd = 'sync' }
        @{ Name = 'install when the service does not start in time'; Code = 13; Set = { $World.Hangs = $true } }
        @{ Name = 'set-time without administrator rights'; Code = 4; Set = { $World.Admin = $false }; Cmd = 'set-time' }
    ) {
        # Fault: a refusal or a failure read as another outcome, or one that changed the computer.
        & $Set
        $registry = Get-Dump
        if (-not $_.ContainsKey('Cmd')) { Run 'install' '127.0.0.1' | Should -Be $Code }
        elseif ($Cmd -eq 'sync') { Run 'sync' | Should -Be $Code }
        else { Run 'set-time' '' '2026-03-01T08:15:00Z' | Should -Be $Code }
        Get-Dump | Should -Be $registry
        $World.Calls | Should -Not -Contain 'Set-Date'
    }

    It 'ends <Name> with <Code>, set up' -ForEach @(
        @{ Name = 'a silent server'; Code = 3; Address = '127.0.0.2'; Set = { } }
        @{ Name = 'a server with no route to it'; Code = 3; Address = '192.0.2.1'; Set = { } }
        @{ Name = 'a resync that fails'; Code = 10; Address = '127.0.0.1'; Set = { $World.Resync = 1 } }
        @{ Name = 'a resync that says done but syncs nothing'; Code = 10; Address = '127.0.0.1'; Set = { $World.ResyncTakes = $false } }
        @{ Name = 'a resync that does not end'; Code = 14; Address = '127.0.0.1'; Set = { $World.Resync = $null } }
    ) {
        # Fault: a finished install reported as failed, or a sync the time service never took reported as done.
        & $Set
        Run 'install' $Address | Should -Be $Code
        Read-Value $RecordSubKey 'Server' | Should -Be $Address
        Run 'sync' | Should -Be $Code
    }

    It 'confirms a sync that shows in the status only a moment later' {
        # Fault: a sync judged by one look at the status, just before the service records it.
        $World.Late = 1
        Run 'install' '127.0.0.1' | Should -Be 0
        $World.Late = 2
        Run 'sync' | Should -Be 10
    }

    It 'refuses to sync with settings changed outside Tavrin Pellum: <Name>' -ForEach @(
        @{ Name = 'another peer'; Value = 'NtpServer'; To = 'time.windows.com,0x9' }, @{ Name = 'no peer at all'; Value = 'Type'; To = 'NoSync' }
    ) {
        # Fault: a sync that goes to whatever the service follows now is reported as a sync with the chosen server.
        Run 'install' '127.0.0.1' | Should -Be 0
        Set-Fake $ParametersSubKey $Value $To $Text
        $World.Calls.Clear()
        Run 'sync' | Should -Be 12
        $World.Said[-1] | Should -Match 'changed outside Tavrin Pellum'
        $World.Calls | Should -Not -Contain 'w32tm.exe /resync /rediscover'
    }
}

Describe 'the running process' {
    It 'loads no module from the user''s folders' {
        # Fault: a module planted in a user-writable folder of the module path runs elevated as soon as the script calls a cmdlet it exports.
        $plant = Join-Path $TestDrive 'plant/Planted'; New-Item -ItemType Directory $plant | Out-Null
        $marker = Join-Path $TestDrive 'planted-ran'
        Set-Content "$plant/Planted.psm1" "function Get-Service { Set-Content '$marker' x }; function Get-CimInstance { Set-Content '$marker' x }"
        Set-Content "$plant/Planted.psd1" "@{ ModuleVersion = '1.0'; RootModule = 'Planted.psm1'; FunctionsToExport = @('Get-Service', 'Get-CimInstance') }"
        $pwsh = $env:PELLUM_PWSH
        $env:PSModulePath, $kept = (Join-Path $TestDrive 'plant'), $env:PSModulePath
        try {
            & $pwsh -NoProfile -NonInteractive -Command ". '$ScriptPath'; Protect-Session; try { Get-Service } catch { }; Join-Path a b" | Should -Be (Join-Path a b)
        } finally { $env:PSModulePath = $kept }
        $marker | Should -Not -Exist
    }

    It 'reads a tool''s error output as text and ends a tool at its time limit' {
        # Fault: under 'Stop' a tool's first line on standard error ends the script, and a tool that hangs holds the program's wait cursor for good.
        $tool = Join-Path $TestDrive 'tool'
        Set-Content $tool "#!/bin/sh`necho working`necho 'The service has not been started. (0x80070426)' >&2`n[ `"`$1`" = hang ] && exec sleep 30`nexit 3"
        chmod +x $tool
        $ErrorActionPreference = 'Stop'
        $result = & $RealInvokeTool $tool @('fail') 10
        $result.Code | Should -Be 3
        Get-ToolReason $result | Should -Be 'exit 3: The service has not been started. (0x80070426)'
        $took = Measure-Command { $result = & $RealInvokeTool $tool @('hang') 1 }
        $result.Code | Should -BeNullOrEmpty
        $took.TotalSeconds | Should -BeLessThan 10
    }
}

Describe 'the script as Windows PowerShell 5.1 reads it' {
    BeforeAll {
        # Syntax and parameters that Windows PowerShell 5.1 does not have.
        function Get-NewerSyntax([string]$Source) {
            $errors = $null
            $ast = [System.Management.Automation.Language.Parser]::ParseInput($Source, [ref]$null, [ref]$errors)
            $found = @($errors | ForEach-Object { "syntax error: $($_.Message)" })
            $newer = @{ 'Join-Path' = 'AdditionalChildPath'; 'Sort-Object' = 'Top|Bottom|Stable'; 'Import-Module' = 'UseWindowsPowerShell|SkipEditionCheck'
                'ForEach-Object' = 'Parallel|ThrottleLimit'; 'Start-Sleep' = 'Duration'; 'Set-Service' = 'SecurityDescriptorSddl|Force'
                'Get-Content' = 'AsByteStream'; 'Set-Content' = 'AsByteStream'; 'ConvertFrom-Json' = 'AsHashtable|Depth|NoEnumerate' }
            foreach ($node in $ast.FindAll({ $true }, $true)) {
                $kind = $node.GetType().Name
                if ($kind -in 'TernaryExpressionAst', 'PipelineChainAst') { $found += "$kind at line $($node.Extent.StartLineNumber)" }
                if ($kind -eq 'BinaryExpressionAst' -and $node.Operator -like 'QuestionQuestion*') { $found += "?? at line $($node.Extent.StartLineNumber)" }
                if ($kind -eq 'AssignmentStatementAst' -and $node.Operator -like 'QuestionQuestion*') { $found += "??= at line $($node.Extent.StartLineNumber)" }
                if ($kind -in 'MemberExpressionAst', 'InvokeMemberExpressionAst', 'IndexExpressionAst' -and $node.NullConditional) { $found += "?. at line $($node.Extent.StartLineNumber)" }
                if ($kind -eq 'CommandAst' -and $newer.ContainsKey([string]$node.GetCommandName())) {
                    foreach ($p in $node.CommandElements | Where-Object { $_ -is [System.Management.Automation.Language.CommandParameterAst] }) {
                        if ($p.ParameterName -match "^($($newer[$node.GetCommandName()]))") { $found += "-$($p.ParameterName) at line $($p.Extent.StartLineNumber)" }
                    }
                }
            }
            return $found
        }
    }

    It 'uses nothing newer' {
        # Fault: syntax or a parameter that only PowerShell 7 knows, which fails when powershell.exe runs the script.
        Get-NewerSyntax (Get-Content -Raw $ScriptPath) | Should -BeNullOrEmpty
        foreach ($planted in '$a = $b ? 1 : 2', '$a = $b ?? 1', 'Get-Thing && Next-Thing', '$a = ${b}?.Count', 'Join-Path a b -AdditionalChildPath c', '$a = @(1') {
            Get-NewerSyntax $planted | Should -Not -BeNullOrEmpty -Because "$planted must be found"
        }
    }
}
