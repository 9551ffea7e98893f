#pragma once
// The lowest full-installer version that this setup runs, as four numbers. The
// maker raises it with each setup release, so that a server cannot offer an
// older installer, genuinely signed but with holes since fixed, under a newer
// version text. A plain macro: the version block (resources/QuorvaneSetup.rc)
// carries the same text under "MinimumInstallerVersion", where the release
// tool reads it from a setup file.
#define QV_MINIMUM_INSTALLER_VERSION "2026.12.0.0"
