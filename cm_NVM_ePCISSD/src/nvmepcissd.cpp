#include "NVMePCISSDMain.h"

int main(int argc, char** argv)
{
    return RunNVMePCISSD(argc, argv);
}
