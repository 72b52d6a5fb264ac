#ifndef CM_NVM_EPCISSD_NVMEPCISSDMAIN_H
#define CM_NVM_EPCISSD_NVMEPCISSDMAIN_H

// The program's run: command line, debug log, inventory run, update run.
// Returns the exit status. `main` is only its caller, so that the run can
// also be driven in a test process.
int RunNVMePCISSD(int argc, char** argv);

#endif
