#ifndef TESTS_SIM_ISOLATION_TESTPROCESSSTATE_H
#define TESTS_SIM_ISOLATION_TESTPROCESSSTATE_H

// Linked into every test executable (cmake/ZagoTests.cmake): before each
// test starts, the process-wide state a previous test of the same process
// may have changed is put back, so a test executable run whole gives the
// same verdicts as CTest's one process per test. Covered: the working
// directory (back to where the executable started), the debug log (closed),
// the platform layer (its own Linux implementation again) and the USB and
// hardware-access library flags; the NVMe, IPMI and SCSI seams get their
// refusing implementations (RefusingNVMeHost.h, RefusingIPMIDevice.h,
// RefusingScsiHost.h) and the IPMI library its first-use state.

// Registers `reset` to run before every test (not at start-up: other
// units' globals may not be built yet). Call it from a static initialiser;
// returns true so that it can initialise one.
bool resetBeforeEachTest(void (*reset)());

#endif
