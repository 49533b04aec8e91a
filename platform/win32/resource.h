// Identifiers of agesweep.exe's resources.
#pragma once

#define IDI_AGESWEEP 1
