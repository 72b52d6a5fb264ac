#include "RedHatServer.h"

void StageRedHatServer(HostNamespace& ns, const TempDir& exeDir)
{
    ns.putFile("/etc/redhat-release", "Red Hat Enterprise Linux Server release 7.9 (Maipo)\n");
    for (const char* file : {"/etc/SuSE-release", "/etc/vmware-release", "/etc/init.d/haldaemon"})
        ns.remove(file);
    for (const char* folder : {"/etc/udev/rules.d", "/lib/udev/rules.d", "/run/udev/rules.d"})
        ns.emptyFolder(folder);
    ns.putFile("/sbin/udevadm", "#!/bin/sh\nexit 0\n", 0755);
    exeDir.write("98-secupdusb.rules", "usb rule\n");
    exeDir.write("00-secupd-kave.rules", "kave rule\n");
}
