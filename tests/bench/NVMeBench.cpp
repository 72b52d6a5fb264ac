// Cost of nvmepcissd against the minimal client (MinimalNVMeClient.cpp) on
// the emulated host: the unmodified programs under umockdev, their admin
// commands answered by the controller models of the tests. Prints ratios
// only; absolute times say little about an emulated controller.
//
//   zago_nvme_bench [repetitions]   (the fastest of each side counts)
//
// Flash: 1, 16 and 64 MiB images on one ZAGO controller; the tool's time
// per 4096-byte piece against the client's (discovery, package reading,
// result document and process start included on both sides where they
// have them). Inventory: 1, 8 and 32 controllers; the cost per controller
// against the client's, and against the tool's own cost with one.
// Wall-clock ratios include the emulation's answers, which both sides wait
// for alike; processor ratios count only what the programs do themselves
// and stay steadier on a busy machine.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "TempDir.h"

namespace {

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

std::shared_ptr<ZagoControllerModel> ZagoModel(const std::string& serial)
{
    auto model = std::make_shared<ZagoControllerModel>();
    model->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
    model->setAdapterSerial(serial);
    model->setIdentify(serial, "ZAGO BOSS-N1", "0.9", 1);
    model->setFirmwareNumbers(2, 5, 0, 17);
    return model;
}

void AddController(EmulatedNVMeHost& host, int index, std::shared_ptr<NVMeControllerModel> model)
{
    EmulatedController controller;
    controller.name = "nvme" + std::to_string(index);
    char address[32];
    std::snprintf(address, sizeof(address), "0000:%02x:00.0", 0x10 + index);
    controller.pciAddress = address;
    controller.sysfsIds.vendor = 0x1B4B;
    controller.sysfsIds.device = 0xA1F;
    controller.sysfsIds.subVendor = 0x1028;
    controller.sysfsIds.subDevice = 0x2151;
    controller.model = model;
    host.addController(controller);
}

// Wall-clock seconds of one run, and the processor seconds the program
// (with the commands it ran) spent itself. The emulated controllers answer
// in this process: their share is in the wall-clock time only.
struct Cost {
    double wall = 0;
    double cpu = 0;
};

double ChildrenCpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Throws unless the run ended with status 0.
Cost TimedRun(EmulatedNVMeHost& host, const std::string& executable, const std::vector<std::string>& args,
              const std::string& workDir)
{
    const double cpuBefore = ChildrenCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    EmulatedRun run = host.run(executable, args, workDir, 600);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (run.timedOut || run.exitStatus != 0)
        throw std::runtime_error(executable + " failed (status " + std::to_string(run.exitStatus) + "): " + run.err);
    Cost cost;
    cost.wall = took.count();
    cost.cpu = ChildrenCpuSeconds() - cpuBefore;
    return cost;
}

// The least disturbed of the repetitions: on a shared machine every other
// run only adds somebody else's load.
Cost Fastest(const std::vector<Cost>& costs)
{
    Cost best = costs.front();
    for (const Cost& cost : costs) {
        best.wall = std::min(best.wall, cost.wall);
        best.cpu = std::min(best.cpu, cost.cpu);
    }
    return best;
}

void Flash(int repetitions)
{
    TempDir exeDir(false);
    TempDir workDir(false);
    std::filesystem::copy_file(NVMEPCISSD_EXECUTABLE, exeDir.file("nvmepcissd"));
    std::filesystem::create_directories(exeDir.file("payload"));
    workDir.write("package.xml", kPackage);
    const std::string image = exeDir.file("payload/firmware.bin");

    auto model = ZagoModel("SN0001");
    EmulatedNVMeHost host;
    AddController(host, 0, model);

    for (size_t mib : {1, 16, 64}) {
        const size_t size = mib << 20;
        exeDir.write("payload/firmware.bin", patterned(size));
        std::vector<Cost> tool, client;
        auto runTool = [&] {
            model->clearReceived();
            tool.push_back(TimedRun(host, exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml"}, workDir.path()));
            // The tool writes its document beside itself after a flash.
            if (readWholeFile(exeDir.file("result.xml")).find("Firmware update is successful.") == std::string::npos)
                throw std::runtime_error("the tool did not flash the controller");
            if (model->downloadedImage().size() != size)
                throw std::runtime_error("the tool's image did not arrive whole");
        };
        auto runClient = [&] {
            model->clearReceived();
            client.push_back(
                TimedRun(host, MINIMAL_CLIENT_EXECUTABLE, {"flash", image, "/dev/nvme0"}, workDir.path()));
        };
        // Alternating order, so that a drifting load favours neither side.
        for (int r = 0; r < repetitions; ++r) {
            if (r % 2 == 0) {
                runTool();
                runClient();
            } else {
                runClient();
                runTool();
            }
        }
        // Per piece on both sides: the ratio of the totals.
        const size_t pieces = size / 4096;
        const Cost t = Fastest(tool), c = Fastest(client);
        std::printf("flash %2zu MiB (%5zu pieces): time per piece, tool / minimal client = %.3f wall-clock, "
                    "%.3f processor\n",
                    mib, pieces, t.wall / c.wall, t.cpu / c.cpu);
        std::fflush(stdout);
    }
}

void Inventory(int repetitions)
{
    TempDir workDir(false);
    workDir.write("package.xml", kPackage);
    double toolPerControllerWithOne = 0;
    for (int count : {1, 8, 32}) {
        EmulatedNVMeHost host;
        std::vector<std::string> clientArgs{"inventory"};
        for (int i = 0; i < count; ++i) {
            AddController(host, i, ZagoModel("SN" + std::to_string(1000 + i)));
            clientArgs.push_back("/dev/nvme" + std::to_string(i));
        }
        std::vector<Cost> tool, client;
        auto runTool = [&] {
            tool.push_back(TimedRun(host, NVMEPCISSD_EXECUTABLE, {"-i", "-o", "inventory.xml"}, workDir.path()));
            const std::string document = workDir.read("inventory.xml");
            if (document.find("SN" + std::to_string(1000 + count - 1)) == std::string::npos)
                throw std::runtime_error("the inventory misses a controller");
        };
        auto runClient = [&] { client.push_back(TimedRun(host, MINIMAL_CLIENT_EXECUTABLE, clientArgs, workDir.path())); };
        for (int r = 0; r < repetitions; ++r) {
            if (r % 2 == 0) {
                runTool();
                runClient();
            } else {
                runClient();
                runTool();
            }
        }
        const Cost t = Fastest(tool), c = Fastest(client);
        const double toolPerController = t.wall / count;
        if (count == 1)
            toolPerControllerWithOne = toolPerController;
        std::printf("inventory %2d controller%s: cost per controller, tool / minimal client = %.3f wall-clock, "
                    "%.3f processor; tool / tool with one controller = %.3f\n",
                    count, count == 1 ? " " : "s", t.wall / c.wall, t.cpu / c.cpu,
                    toolPerController / toolPerControllerWithOne);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    try {
        Flash(repetitions);
        Inventory(repetitions);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
