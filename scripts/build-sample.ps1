# The Windows counterpart of scripts/build-sample, for the plain sample package:
# WiX v3 (candle and light) makes the base package from sample/QXLockSample.wxs,
# then the Windows Installer's own automation object adds the library's tables from
# docs/authoring/*.idt and the sample's lock rows from sample/lock-rows.tsv, as
# msibuild does there. QXLockCheck.exe then checks the package: an error stops.
#
#   scripts/build-sample.ps1 -Output FILE.msi -Dll QXLockPermissions.dll -Checker QXLockCheck.exe
#                            [-ProductCode {GUID}] [-WithoutLockTable]
#
# WiX v3 is found through the WIX environment variable (its installer sets it).
param(
    [Parameter(Mandatory)] [string] $Output,
    [Parameter(Mandatory)] [string] $Dll,
    [Parameter(Mandatory)] [string] $Checker,
    [string] $ProductCode = '{8D3A5F21-94C7-4B0E-A6D2-1E7F3C9B5A08}',
    [switch] $WithoutLockTable
)
$ErrorActionPreference = 'Stop'
$root = Split-Path -Parent $PSScriptRoot
$authoring = Join-Path $root 'docs\authoring'
$wixBin = if ($env:WIX) { Join-Path $env:WIX 'bin' } else { 'C:\Program Files (x86)\WiX Toolset v3.14\bin' }
foreach ($tool in 'candle.exe', 'light.exe') {
    if (-not (Test-Path (Join-Path $wixBin $tool))) { throw "build-sample: no $tool in $wixBin (install WiX v3)" }
}
foreach ($file in $Dll, $Checker) {
    if (-not (Test-Path $file)) { throw "build-sample: no $file (build the msvc-x64 preset first)" }
}
$Output = $ExecutionContext.SessionState.Path.GetUnresolvedProviderPathFromPSPath($Output)
New-Item -ItemType Directory -Force -Path (Split-Path -Parent $Output) | Out-Null
$stage = Join-Path ([IO.Path]::GetTempPath()) ("qx-sample-" + [Guid]::NewGuid())
New-Item -ItemType Directory -Path (Join-Path $stage 'Binary') | Out-Null

try {
    # The base package, for x64 as wixl -a x64 makes it. candle's -arch x64 would also
    # make the 32-bit component a 64-bit one, so a copy of the source names the
    # package's platform instead. ICE validation is left out, as wixl does: the
    # checker below looks at what the library adds.
    $source = Join-Path $stage 'QXLockSample.wxs'
    (Get-Content -Raw (Join-Path $root 'sample\QXLockSample.wxs')) -replace '<Package ', '<Package Platform="x64" ' |
        Set-Content -Path $source -Encoding utf8
    & (Join-Path $wixBin 'candle.exe') -nologo "-dProductCode=$ProductCode" `
        -out (Join-Path $stage 'QXLockSample.wixobj') $source
    if ($LASTEXITCODE) { throw "build-sample: candle failed ($LASTEXITCODE)" }
    & (Join-Path $wixBin 'light.exe') -nologo -sval -b (Join-Path $root 'sample') -out $Output `
        (Join-Path $stage 'QXLockSample.wixobj')
    if ($LASTEXITCODE) { throw "build-sample: light failed ($LASTEXITCODE)" }

    # Late-bound calls: the automation object has no type library PowerShell reads.
    function Invoke-Automation($object, [string] $method, [object[]] $arguments) {
        $object.GetType().InvokeMember($method, 'InvokeMethod', $null, $object, $arguments)
    }
    $installer = New-Object -ComObject WindowsInstaller.Installer
    $database = Invoke-Automation $installer 'OpenDatabase' @($Output, 1) # msiOpenDatabaseModeTransact

    # Adds an .idt file's rows to the package. An import replaces a table, so rows the
    # package already has are exported and imported again with ours.
    function Merge-Idt([string] $idt) {
        $lines = Get-Content $idt
        $table = ($lines[2] -split "`t")[0]
        $view = Invoke-Automation $database 'OpenView' @("SELECT ``Name`` FROM ``_Tables`` WHERE ``Name`` = '$table'")
        Invoke-Automation $view 'Execute' @() | Out-Null
        $exists = $null -ne (Invoke-Automation $view 'Fetch' @())
        Invoke-Automation $view 'Close' @() | Out-Null
        if ($exists) {
            Invoke-Automation $database 'Export' @($table, $stage, 'existing.idt') | Out-Null
            $existing = Get-Content (Join-Path $stage 'existing.idt')
            if (($existing[0..1] -join "`n") -ne ($lines[0..1] -join "`n")) {
                throw "build-sample: the package's $table table has other columns than $idt"
            }
            $lines = $existing + ($lines | Select-Object -Skip 3)
        }
        Set-Content -Path (Join-Path $stage "$table.idt") -Value $lines -Encoding ascii
        Invoke-Automation $database 'Import' @($stage, "$table.idt") | Out-Null
    }

    # Stream columns of an .idt file name files in a folder named after the table.
    Copy-Item $Dll (Join-Path $stage 'Binary\QXLockPermissions.dll')
    foreach ($table in 'Binary', 'CustomAction', 'InstallExecuteSequence', 'Error', 'ActionText') {
        Merge-Idt (Join-Path $authoring "$table.idt")
    }
    if (-not $WithoutLockTable) {
        $lockTable = Join-Path $stage 'lock-table.idt'
        (Get-Content (Join-Path $authoring 'QXLockPermissions.idt') -TotalCount 3) +
            (Get-Content (Join-Path $root 'sample\lock-rows.tsv')) | Set-Content -Path $lockTable -Encoding ascii
        Merge-Idt $lockTable
        Merge-Idt (Join-Path $authoring '_Validation.idt')
    }
    Invoke-Automation $database 'Commit' @() | Out-Null
    [Runtime.InteropServices.Marshal]::ReleaseComObject($database) | Out-Null

    # What an author runs before shipping: an error (1) or an unreadable package (2) stops.
    & $Checker $Output
    if ($LASTEXITCODE) { throw "build-sample: QXLockCheck.exe found errors in $Output (or could not read it)" }
    Write-Output "Built $Output"
} finally {
    Remove-Item -Recurse -Force $stage -ErrorAction SilentlyContinue
}
