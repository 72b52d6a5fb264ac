#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "IPMIHostFakes.h"
#include "LogTextCheck.h"
#include "QRMIPMIInterfaceImpl.h"
#include "QRMIPMISession.h"
#include "QRMIPMISessionHandler.h"
#include "QRMLogger.h"
#include "SimIPMIDeviceAdapter.h"
#include "TempDir.h"

namespace {

const uint8_t kNetFn = 0x06;
const uint8_t kCmd = 0x01;

std::string ConfigFile(const std::string& keys)
{
    return "<?xml version=\"1.0\"?>\n<QRMIPMIConfig><Device name=\"Default\"><Settings name=\"Default\">" +
           keys + "</Settings></Device></QRMIPMIConfig>\n";
}

// One library user on a simulated host: modules loaded, "/dev/ipmi0"
// answering through the controller model, pauses recorded.
class LibraryTest : public ::testing::Test {
protected:
    LibraryTest() : device(controller)
    {
        controller.SetReply(kNetFn, kCmd, 0x00, {0x20, 0x01});
    }

    _QRMIPMICommandData Record(_QRMIPMIConfiguration* configuration = nullptr)
    {
        _QRMIPMICommandData record;
        std::memset(&record, 0, sizeof(record));
        record.configuration = configuration;
        record.request[0] = kNetFn;
        record.request[1] = kCmd;
        record.requestLength = 2;
        record.responseLength = 10;
        return record;
    }

    size_t Sends() const { return controller.AcceptedSends(); }

    // The settings a session takes from a settings file holding these keys
    // when its caller passes {61, 6, 4, 40, 0xAB, 3}.
    _QRMIPMIConfiguration SessionSettingsWithFile(const std::string& keys)
    {
        // The settings file is read once per process: clear it before and after.
        QRMIPMISession::mIPMIXMLConfig.Release();
        dir.write("QRMIPMIConfig.xml", ConfigFile(keys));
        QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
        _QRMIPMIConfiguration configuration = {61, 6, 4, 40, 0xAB, 3};
        EXPECT_EQ(library->Initialize(&configuration), 0u);
        const _QRMIPMIConfiguration got =
            *QRMIPMISessionHandler::GetInstance()->GetSession()->GetConfiguration();
        library->Release();
        delete library;
        QRMIPMISession::mIPMIXMLConfig.Release();
        return got;
    }

    HostNamespace ns;
    TempDir dir;
    FakeModuleHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimIPMIDevice device;
    SimIPMISleepRecorder sleeper;
    SimIPMISeamGuard seams{&device, &sleeper};
};

TEST_F(LibraryTest, LifeCycleAsTheManagedStorageCodeRunsIt)
{
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
    _QRMIPMIConfiguration configuration = {60, 5, 5, 50, 0, 0};
    ASSERT_EQ(library->Initialize(&configuration), 0u);
    EXPECT_EQ(device.openedPaths, std::vector<std::string>{"/dev/ipmi0"});

    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library->IPMIRequest(&record), 0u);
    EXPECT_EQ(record.response[0], kNetFn | 1);
    EXPECT_EQ(record.response[1], kCmd);
    EXPECT_EQ(record.response[2], 0x00);
    EXPECT_EQ(record.response[3], 0x20);
    EXPECT_EQ(record.responseLength, 5u);

    EXPECT_TRUE(library->Release());
    EXPECT_EQ(device.closedFds, std::vector<int>{7});
    delete library;
    EXPECT_EQ(device.closedFds.size(), 1u);
    // Without the marker no library log is written.
    EXPECT_FALSE(dir.exists("qrmipmi.log"));
    EXPECT_FALSE(dir.exists("qrmipmi_internal.log"));
}

TEST_F(LibraryTest, LogsOnlyWithTheMarkerFileInTheLinesFormat)
{
    dir.write("zordebuglog", "");
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
    _QRMIPMIConfiguration configuration = {60, 5, 5, 50, 0, 0};
    ASSERT_EQ(library->Initialize(&configuration), 0u);
    EXPECT_EQ(library->IPMIRequest(nullptr), 257u);
    library->Release();
    delete library;
    EXPECT_EQ(QRMLogger::mInternalLogFile, nullptr);
    EXPECT_EQ(QRMLogger::mUserLogFile, nullptr);

    ASSERT_TRUE(dir.exists("qrmipmi.log"));
    EXPECT_EQ(dir.read("qrmipmi.log"), "");
    const std::string log = logcheck::MaskStamps(dir.read("qrmipmi_internal.log"));
    EXPECT_TRUE(logcheck::HasLine(log,
                                  "QRMIPMILibrary INFO  : <STAMP> " + logcheck::Pad("Initialize", 40) +
                                      "() cm_qrmipmi/src/QRMIPMIInterfaceImpl:",
                                  " Started Logging for QRMIPMI Library\n"))
        << log;
    EXPECT_TRUE(logcheck::HasLine(log,
                                  "QRMIPMILibrary INFO  : <STAMP> " + logcheck::Pad("IPMIRequest", 40) +
                                      "() cm_qrmipmi/src/QRMIPMIInterfaceImpl:",
                                  " Invalid parameter passed\n"));
    EXPECT_NE(log.find("cm_qrmipmi/src/LQRMIPMIDriverManager"), std::string::npos);
    EXPECT_NE(log.find("Creating session object for session ID = "), std::string::npos);
    // The destructor's last line is written before the logs close.
    const std::string last = "QRMIPMIInterfaceImpl::~QRMIPMIInterfaceImpl() Leaving\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
}

TEST_F(LibraryTest, NullRecordIsRefused)
{
    QRMIPMIInterfaceImpl library;
    ASSERT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    EXPECT_EQ(library.IPMIRequest(nullptr), 257u);
    EXPECT_EQ(Sends(), 0u);
}

TEST_F(LibraryTest, MissingModulesThatDoNotLoadFailBeforeAnySession)
{
    host.loaded.clear();
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
    _QRMIPMIConfiguration configuration = {60, 5, 5, 50, 0, 0};
    EXPECT_EQ(library->Initialize(&configuration), 1u);
    EXPECT_TRUE(device.openedPaths.empty());
    const std::vector<std::string> expected = {
        "lsmod  | grep ipmi_msghandler > /dev/null 2>&1 ",
        "lsmod  | grep ipmi_devintf > /dev/null 2>&1 ",
        "lsmod  | grep ipmi_si > /dev/null 2>&1 ",
        "modprobe ipmi_msghandler > /dev/null 2>&1 ",
        "modprobe ipmi_devintf > /dev/null 2>&1 ",
        "modprobe ipmi_si > /dev/null 2>&1 ",
        "rmmod ipmi_si > /dev/null 2>&1 ",
        "rmmod ipmi_devintf > /dev/null 2>&1 ",
        "rmmod ipmi_msghandler > /dev/null 2>&1 ",
    };
    EXPECT_EQ(host.recorded(), expected);
    EXPECT_EQ(sleeper.seconds, (std::vector<unsigned int>{3, 3, 3}));
    delete library;
}

TEST_F(LibraryTest, ModulesLoadedForTheCallAreUnloadedAtItsEnd)
{
    host.loaded = {"ipmi_msghandler"};
    host.loadable = {"ipmi_devintf", "ipmi_si"};
    QRMIPMIInterfaceImpl library;
    EXPECT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    const std::vector<std::string> commands = host.recorded();
    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[5], "rmmod ipmi_si > /dev/null 2>&1 ");
    EXPECT_EQ(commands[6], "rmmod ipmi_devintf > /dev/null 2>&1 ");
    library.Release();
}

TEST_F(LibraryTest, EveryInitializeChecksModulesButOpensTheDeviceOnce)
{
    QRMIPMIInterfaceImpl library;
    EXPECT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    EXPECT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    EXPECT_EQ(host.recorded().size(), 6u);
    EXPECT_EQ(device.openedPaths.size(), 1u);
    library.Release();
}

TEST_F(LibraryTest, NoDeviceGives257AndEveryRequestSearchesAgain)
{
    device.existingPaths.clear();
    QRMIPMIInterfaceImpl library;
    EXPECT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 257u);
    EXPECT_EQ(device.openedPaths.size(), 15u);
    EXPECT_EQ(sleeper.seconds, std::vector<unsigned int>(5, 1u));

    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library.IPMIRequest(&record), 257u);
    EXPECT_EQ(device.openedPaths.size(), 30u);
    EXPECT_EQ(Sends(), 0u);

    // Once the device appears the same session starts.
    device.existingPaths = {"/dev/ipmi/0"};
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(device.openedPaths.back(), "/dev/ipmi/0");
    library.Release();
}

TEST_F(LibraryTest, ApplicationDefaultSteersRequestsWithoutConfiguration)
{
    controller.Script(kNetFn, kCmd, SimIpmiStep::Code(0xC0), 10);
    QRMIPMIInterfaceImpl library;
    _QRMIPMIConfiguration configuration = {61, 6, 2, 20, 0, 0};
    ASSERT_EQ(library.Initialize(&configuration), 0u);
    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(Sends(), 2u);
    EXPECT_EQ(sleeper.milliseconds, (std::vector<unsigned long long>{20, 20}));
    EXPECT_EQ(record.response[2], 0xC0);

    // The record now points to the session's settings: the first four
    // fields of the default.
    QRMIPMISession* session = QRMIPMISessionHandler::GetInstance()->GetSession();
    ASSERT_EQ(record.configuration, session->GetConfiguration());
    EXPECT_EQ(record.configuration->PollInterval, 61u);
    EXPECT_EQ(record.configuration->PollCount, 6u);
    EXPECT_EQ(record.configuration->RetryCount, 2u);
    EXPECT_EQ(record.configuration->RetryInterval, 20u);
    library.Release();
}

TEST_F(LibraryTest, NullConfigurationKeepsTheBuiltInDefault)
{
    controller.Script(kNetFn, kCmd, SimIpmiStep::Code(0xFF), 10);
    QRMIPMIInterfaceImpl library;
    ASSERT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    const _QRMIPMIConfiguration* defaults =
        QRMIPMISessionHandler::GetInstance()->GetApplicationDefaultConfiguration();
    EXPECT_EQ(defaults->PollInterval, 60u);
    EXPECT_EQ(defaults->PollCount, 5u);
    EXPECT_EQ(defaults->RetryCount, 5u);
    EXPECT_EQ(defaults->RetryInterval, 50u);
    EXPECT_EQ(defaults->PollingByte, 0u);
    EXPECT_EQ(defaults->PollingStatus, 0u);
    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(Sends(), 5u);
    library.Release();
}

TEST_F(LibraryTest, CallersOwnConfigurationSteersWithoutTheFile)
{
    controller.Script(kNetFn, kCmd, SimIpmiStep::Code(0xC0), 10);
    QRMIPMIInterfaceImpl library;
    ASSERT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    _QRMIPMIConfiguration own = {1, 1, 1, 7, 0x1234, 9};
    _QRMIPMICommandData record = Record(&own);
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(Sends(), 1u);
    EXPECT_EQ(record.configuration, &own);
    EXPECT_EQ(record.response[2], 0xC0);
    EXPECT_EQ(own.PollingByte, 0u);   // cleared by the library before the exchange
    EXPECT_EQ(own.PollingStatus, 0u);
    library.Release();
}

TEST_F(LibraryTest, ConfigurationFileOverridesTheCallersSettings)
{
    dir.write("QRMIPMIConfig.xml", ConfigFile("<RetryCount>3</RetryCount>"));
    controller.Script(kNetFn, kCmd, SimIpmiStep::Code(0xC0), 10);
    QRMIPMIInterfaceImpl library;
    _QRMIPMIConfiguration configuration = {60, 5, 5, 50, 0, 0};
    ASSERT_EQ(library.Initialize(&configuration), 0u);

    _QRMIPMIConfiguration own = {1, 1, 1, 7, 0, 0};
    _QRMIPMICommandData record = Record(&own);
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(Sends(), 3u);
    EXPECT_EQ(sleeper.milliseconds, (std::vector<unsigned long long>{50, 50, 50}));
    QRMIPMISession* session = QRMIPMISessionHandler::GetInstance()->GetSession();
    EXPECT_EQ(record.configuration, session->GetConfiguration());
    library.Release();
}

TEST_F(LibraryTest, EachKeyOfTheFileOverridesOnlyItsField)
{
    struct Case {
        const char* keys;
        _QRMIPMIConfiguration expected;
    };
    const Case cases[] = {
        {"<RetryInterval>10</RetryInterval><PollingCount>7</PollingCount>", {61, 7, 4, 10, 0, 0}},
        {"<PollingInterval>30</PollingInterval>", {30, 6, 4, 40, 0, 0}},
        {"<RetryCount>2</RetryCount><RetryInterval>5</RetryInterval>"
         "<PollingCount>3</PollingCount><PollingInterval>4</PollingInterval>",
         {4, 3, 2, 5, 0, 0}},
        {"<Other>1</Other>", {61, 6, 4, 40, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        const _QRMIPMIConfiguration got = SessionSettingsWithFile(c.keys);
        EXPECT_EQ(got.PollInterval, c.expected.PollInterval);
        EXPECT_EQ(got.PollCount, c.expected.PollCount);
        EXPECT_EQ(got.RetryCount, c.expected.RetryCount);
        EXPECT_EQ(got.RetryInterval, c.expected.RetryInterval);
        EXPECT_EQ(got.PollingByte, 0u);
        EXPECT_EQ(got.PollingStatus, 0u);
    }
}

// A value no sane setting has would, stored into the unsigned fields, turn
// into billions of retries or sleeps of weeks: it is ignored with a line in
// the log and the field keeps its setting.
TEST_F(LibraryTest, OutOfRangeValuesInTheFileAreIgnored)
{
    struct Case {
        const char* keys;
        _QRMIPMIConfiguration expected;
        bool logged = true;
    };
    const Case cases[] = {
        {"<RetryCount>0</RetryCount>", {61, 6, 4, 40, 0, 0}},
        {"<RetryCount>-1</RetryCount>", {61, 6, 4, 40, 0, 0}},
        {"<RetryCount>none</RetryCount>", {61, 6, 4, 40, 0, 0}},
        {"<RetryCount>101</RetryCount><RetryInterval>7</RetryInterval>", {61, 6, 4, 7, 0, 0}},
        {"<RetryCount>4294967295</RetryCount>", {61, 6, 4, 40, 0, 0}},
        {"<RetryInterval>-5</RetryInterval><RetryCount>9</RetryCount>", {61, 6, 9, 40, 0, 0}},
        {"<RetryInterval>60001</RetryInterval>", {61, 6, 4, 40, 0, 0}},
        {"<RetryInterval>2147483648</RetryInterval>", {61, 6, 4, 40, 0, 0}},
        {"<PollingInterval>-1</PollingInterval><PollingCount>-1</PollingCount>", {61, 6, 4, 40, 0, 0}},
        {"<PollingInterval>99999999</PollingInterval><PollingCount>1001</PollingCount>",
         {61, 6, 4, 40, 0, 0}},
        // The limits themselves are taken.
        {"<RetryCount>1</RetryCount><RetryInterval>0</RetryInterval>"
         "<PollingCount>0</PollingCount><PollingInterval>0</PollingInterval>",
         {0, 0, 1, 0, 0, 0},
         false},
        {"<RetryCount>100</RetryCount><RetryInterval>60000</RetryInterval>"
         "<PollingCount>1000</PollingCount><PollingInterval>60000</PollingInterval>",
         {60000, 1000, 100, 60000, 0, 0},
         false},
    };
    dir.write("zordebuglog", "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        std::remove(dir.file("qrmipmi_internal.log").c_str());
        const _QRMIPMIConfiguration got = SessionSettingsWithFile(c.keys);
        EXPECT_EQ(got.PollInterval, c.expected.PollInterval);
        EXPECT_EQ(got.PollCount, c.expected.PollCount);
        EXPECT_EQ(got.RetryCount, c.expected.RetryCount);
        EXPECT_EQ(got.RetryInterval, c.expected.RetryInterval);
        const std::string log = dir.read("qrmipmi_internal.log");
        const bool ignored = log.find("in the configuration file is outside") != std::string::npos ||
                             log.find("value out of range, ignored") != std::string::npos;
        EXPECT_EQ(ignored, c.logged) << log;
    }
}

TEST_F(LibraryTest, AbsentOrMalformedFileLeavesTheDefaults)
{
    for (const char* content : {static_cast<const char*>(nullptr), "<broken", "", "not xml at all"}) {
        SCOPED_TRACE(content ? content : "(absent)");
        std::remove(dir.file("QRMIPMIConfig.xml").c_str());
        if (content)
            dir.write("QRMIPMIConfig.xml", content);
        dir.write("zordebuglog", "");
        QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
        _QRMIPMIConfiguration configuration = {60, 5, 2, 50, 0, 0};
        ASSERT_EQ(library->Initialize(&configuration), 0u);
        const _QRMIPMIConfiguration* got =
            QRMIPMISessionHandler::GetInstance()->GetSession()->GetConfiguration();
        EXPECT_EQ(got->RetryCount, 2u);
        EXPECT_EQ(got->RetryInterval, 50u);
        library->Release();
        delete library;
        EXPECT_NE(dir.read("qrmipmi_internal.log").find("Config couldn't be initialized from configuration file"),
                  std::string::npos);
    }
}

TEST_F(LibraryTest, FileWithoutDefaultLevelsStillCountsAsConfiguredFromFile)
{
    dir.write("QRMIPMIConfig.xml", "<R><RetryCount>3</RetryCount></R>");
    QRMIPMIInterfaceImpl library;
    _QRMIPMIConfiguration configuration = {60, 5, 2, 50, 0, 0};
    ASSERT_EQ(library.Initialize(&configuration), 0u);
    _QRMIPMIConfiguration own = {1, 1, 1, 7, 0, 0};
    _QRMIPMICommandData record = Record(&own);
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(record.configuration, QRMIPMISessionHandler::GetInstance()->GetSession()->GetConfiguration());
    EXPECT_EQ(record.configuration->RetryCount, 2u);
    library.Release();
}

TEST_F(LibraryTest, InitializeWithAnotherFileName)
{
    dir.write("custom.xml", ConfigFile("<RetryCount>4</RetryCount>"));
    QRMIPMIInterfaceImpl library;
    EXPECT_EQ(library.Initialize(QRMString("custom.xml", QRMString::QRM_ENCODING_UTF8)), 0u);
    EXPECT_EQ(QRMIPMISessionHandler::GetInstance()->GetSession()->GetConfiguration()->RetryCount, 4u);
    library.Release();
}

TEST_F(LibraryTest, RequestWithoutInitializeStartsTheSessionOnItsOwn)
{
    dir.write("zordebuglog", "");
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library->IPMIRequest(&record), 0u);
    EXPECT_TRUE(host.recorded().empty());   // no module check
    EXPECT_FALSE(dir.exists("qrmipmi_internal.log"));   // no library logger
    EXPECT_EQ(record.configuration->RetryCount, 5u);
    library->Release();
    delete library;
}

TEST_F(LibraryTest, ExchangeFailureIsPassedUp)
{
    controller.Script(kNetFn, kCmd, SimIpmiStep::SendFailure(EIO));
    QRMIPMIInterfaceImpl library;
    ASSERT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library.IPMIRequest(&record), 320u);
    EXPECT_EQ(record.response[2], 0x01);
    library.Release();
}

TEST_F(LibraryTest, ReleaseWithoutSessionChangesNothing)
{
    QRMIPMIInterfaceImpl library;
    EXPECT_TRUE(library.Release());
    EXPECT_TRUE(library.Release());
    EXPECT_TRUE(device.openedPaths.empty());
    EXPECT_TRUE(device.closedFds.empty());
}

TEST_F(LibraryTest, RequestAfterReleaseOpensTheDeviceAgain)
{
    QRMIPMIInterfaceImpl library;
    ASSERT_EQ(library.Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr)), 0u);
    library.Release();
    _QRMIPMICommandData record = Record();
    EXPECT_EQ(library.IPMIRequest(&record), 0u);
    EXPECT_EQ(device.openedPaths.size(), 2u);
    library.Release();
    EXPECT_EQ(device.closedFds.size(), 2u);
}

// Runs fn on a new thread that stays alive until released, so two workers
// never share a pthread_self() value.
class Worker {
public:
    template <class Fn>
    explicit Worker(Fn fn)
        : mThread([this, fn]() {
              fn();
              mDone.set_value();
              mRelease.get_future().wait();
          })
    {
        mDoneFuture.wait();
    }
    ~Worker()
    {
        mRelease.set_value();
        mThread.join();
    }

private:
    std::promise<void> mDone;
    std::future<void> mDoneFuture = mDone.get_future();
    std::promise<void> mRelease;
    std::thread mThread;
};

TEST_F(LibraryTest, TwoThreadsGetTwoSessions)
{
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
    _QRMIPMIConfiguration configuration = {60, 5, 5, 50, 0, 0};
    QRMIPMISession* first = nullptr;
    QRMIPMISession* second = nullptr;
    auto work = [&](QRMIPMISession** session) {
        EXPECT_EQ(library->Initialize(&configuration), 0u);
        _QRMIPMICommandData record = Record();
        EXPECT_EQ(library->IPMIRequest(&record), 0u);
        *session = QRMIPMISessionHandler::GetInstance()->GetSession();
        EXPECT_EQ(record.configuration, (*session)->GetConfiguration());
    };
    {
        Worker a([&] { work(&first); });
        Worker b([&] { work(&second); });
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        EXPECT_EQ(device.openedPaths.size(), 2u);

        // Releasing on one thread leaves the other thread's session alone.
        Worker c([&] { EXPECT_TRUE(library->Release()); });
        EXPECT_TRUE(device.closedFds.empty());
    }
    // Neither worker released its session: deleting the library destroys
    // them and closes both devices.
    delete library;
    EXPECT_EQ(device.closedFds.size(), 2u);
}

TEST_F(LibraryTest, SessionDestroyedWithoutReleaseClosesItsDevice)
{
    QRMIPMISession* session = new QRMIPMISession;
    EXPECT_TRUE(session->Initialize(nullptr));
    EXPECT_EQ(device.openedPaths.size(), 1u);
    delete session;
    EXPECT_EQ(device.closedFds, std::vector<int>{7});
}

TEST_F(LibraryTest, SessionTakesTheGivenConfigurationWithoutTheFile)
{
    QRMIPMISession session;
    _QRMIPMIConfiguration given = {1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(session.Initialize(&given));
    const _QRMIPMIConfiguration* got = session.GetConfiguration();
    EXPECT_EQ(got->PollInterval, 1u);
    EXPECT_EQ(got->PollCount, 2u);
    EXPECT_EQ(got->RetryCount, 3u);
    EXPECT_EQ(got->RetryInterval, 4u);
    EXPECT_EQ(got->PollingByte, 5u);
    EXPECT_EQ(got->PollingStatus, 6u);
    EXPECT_TRUE(session.Release());
    EXPECT_EQ(session.GetConfiguration(), nullptr);
    QRMIPMISessionHandler::DestroyInstance();
}

TEST_F(LibraryTest, RegistryIsRecreatedAfterDestruction)
{
    QRMIPMISessionHandler* first = QRMIPMISessionHandler::GetInstance();
    EXPECT_EQ(first, QRMIPMISessionHandler::GetInstance());
    QRMIPMISession* session = first->GetSession();
    EXPECT_EQ(session, first->GetSession());
    QRMIPMISessionHandler::DestroyInstance();
    QRMIPMISessionHandler::DestroyInstance();   // no instance: nothing happens
    QRMIPMISessionHandler* second = QRMIPMISessionHandler::GetInstance();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetApplicationDefaultConfiguration()->RetryCount, 5u);
    QRMIPMISessionHandler::DestroyInstance();
}

} // namespace
