// Stand-in for the closed hardware-access library: the installation tests
// only need a file that dlopen accepts and a symbol to find in it.
extern "C" int fakeZemoVersion()
{
    return 1;
}
