#ifndef ZAGO_SIM_REDHATSERVER_H
#define ZAGO_SIM_REDHATSERVER_H

#include "HostNamespace.h"
#include "TempDir.h"

// The server a run of the managed-storage client finds inside the test's
// namespace: a Red Hat release file and no other (no SuSE or VMware
// release, no HAL daemon), empty udev rule folders of its own, a udevadm
// that succeeds, and the two udev rule files the client installs beside its
// executable in exeDir.
void StageRedHatServer(HostNamespace& ns, const TempDir& exeDir);

#endif
