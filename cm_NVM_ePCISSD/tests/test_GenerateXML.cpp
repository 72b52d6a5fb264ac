// Hand-off from a front end to its result writer: the result, the debug-log
// lines and the exit status when the writer throws.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"
#include "Logger.h"
#include "NVMECommonUtils.h"
#include "TempDir.h"

namespace {

enum class Outcome { Succeed, Fail, ThrowStd, ThrowOther };

class ScriptedWriter : public IDeviceXMLWriter {
public:
    explicit ScriptedWriter(Outcome outcome) : m_outcome(outcome) {}

    bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile) override
    {
        seenDevices = devices.size();
        seenFile = outputFile;
        switch (m_outcome) {
        case Outcome::Succeed:
            return true;
        case Outcome::Fail:
            return false;
        case Outcome::ThrowStd:
            throw std::runtime_error("disk on fire");
        case Outcome::ThrowOther:
            throw 42;
        }
        return false;
    }

    size_t seenDevices = 0;
    std::string seenFile;

private:
    Outcome m_outcome;
};

std::vector<std::string> messages(const std::string& text)
{
    // Message part of each line: after "<stamp> : <name>:<line>: ".
    std::vector<std::string> out;
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        std::string::size_type end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        std::string::size_type name = line.find("NVMECommonUtils:");
        if (name != std::string::npos) {
            std::string::size_type sep = line.find(": ", name + 16);
            out.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
        }
        pos = end + 1;
    }
    return out;
}

class GenerateXML : public testing::Test {
protected:
    void SetUp() override
    {
        // The child of a death test must write into this same directory.
        GTEST_FLAG_SET(death_test_style, "fast");
        ASSERT_TRUE(CLogger::GetInstance()->Initialize("gen.log"));
    }
    std::vector<std::string> logged() const { return messages(dir.read("gen.log")); }

    TempDir dir;
    std::string outputFile = "result.xml";
};

} // namespace

TEST_F(GenerateXML, PassesListAndNameAndReportsSuccess)
{
    CDeviceInfo device;
    std::vector<CDeviceInfo*> devices{&device};
    ScriptedWriter* raw = new ScriptedWriter(Outcome::Succeed);
    std::unique_ptr<IDeviceXMLWriter> writer(raw);

    EXPECT_TRUE(generateXML(writer, devices, outputFile));
    EXPECT_EQ(writer.get(), raw);  // ownership stays with the caller
    EXPECT_EQ(raw->seenDevices, 1u);
    EXPECT_EQ(raw->seenFile, "result.xml");
    EXPECT_EQ(logged(), (std::vector<std::string>{"Entering NVMECommonUtils::generateXML()",
                                                  "INFO: Successfully created XML file for update.",
                                                  "Leaving NVMECommonUtils::generateXML()"}));
}

TEST_F(GenerateXML, EmptyListIsWarnedAbout)
{
    std::vector<CDeviceInfo*> devices;
    std::unique_ptr<IDeviceXMLWriter> writer(new ScriptedWriter(Outcome::Succeed));
    EXPECT_TRUE(generateXML(writer, devices, outputFile));
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "Entering NVMECommonUtils::generateXML()", "INFO: Successfully created XML file for update.",
                            "WARNING: deviceInfo is empty. There seems to be no NVMe PCISSD disk ??",
                            "Leaving NVMECommonUtils::generateXML()"}));
}

TEST_F(GenerateXML, WriterFailureIsReturned)
{
    std::vector<CDeviceInfo*> devices;
    std::unique_ptr<IDeviceXMLWriter> writer(new ScriptedWriter(Outcome::Fail));
    EXPECT_FALSE(generateXML(writer, devices, outputFile));
    EXPECT_EQ(logged(), (std::vector<std::string>{"Entering NVMECommonUtils::generateXML()",
                                                  "ERROR: Failed to create XML file for update.",
                                                  "Leaving NVMECommonUtils::generateXML()"}));
}

TEST_F(GenerateXML, MissingWriterIsReturnedAsFailureWithoutLeavingLine)
{
    std::vector<CDeviceInfo*> devices;
    std::unique_ptr<IDeviceXMLWriter> writer;
    EXPECT_FALSE(generateXML(writer, devices, outputFile));
    EXPECT_EQ(logged(), (std::vector<std::string>{"Entering NVMECommonUtils::generateXML()",
                                                  "ERROR: Failed to create auto_ptr to CUpdateXMLWriter"}));
}

TEST_F(GenerateXML, ThrowingWriterEndsTheProcessWithStatusOne)
{
    std::vector<CDeviceInfo*> devices;
    {
        std::unique_ptr<IDeviceXMLWriter> writer(new ScriptedWriter(Outcome::ThrowStd));
        EXPECT_EXIT(generateXML(writer, devices, outputFile), testing::ExitedWithCode(1), "");
    }
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "Entering NVMECommonUtils::generateXML()",
                            "ERROR: pDeviceXmlWriter->GetXML() created an exception and it is caught !",
                            "Exception Is: disk on fire"}));
}

TEST_F(GenerateXML, WriterThrowingAnythingElseEndsTheProcessWithStatusOne)
{
    std::vector<CDeviceInfo*> devices;
    {
        std::unique_ptr<IDeviceXMLWriter> writer(new ScriptedWriter(Outcome::ThrowOther));
        EXPECT_EXIT(generateXML(writer, devices, outputFile), testing::ExitedWithCode(1), "");
    }
    EXPECT_EQ(logged(), (std::vector<std::string>{"Entering NVMECommonUtils::generateXML()",
                                                  "ERROR: pDeviceXmlWriter->GetXML() created an unkown exception"}));
}
