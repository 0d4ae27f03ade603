#pragma once
// Resource id of the launcher carried by the stand-in package.
#define kStandInLauncherResource 101
