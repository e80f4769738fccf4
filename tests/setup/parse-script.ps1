# parse-script.ps1 <file>: exits 1 when PowerShell cannot parse the file.
param([Parameter(Mandatory = $true)][string]$Path)
$tokens = $null
$errors = $null
[System.Management.Automation.Language.Parser]::ParseFile($Path, [ref]$tokens, [ref]$errors) | Out-Null
foreach ($e in $errors) { Write-Output "$($e.Extent.StartLineNumber): $($e.Message)" }
if ($errors.Count -gt 0) { exit 1 }
exit 0
