#ifndef CM_KOLT_TESTS_KOLTCONTROLLERTEST_H
#define CM_KOLT_TESTS_KOLTCONTROLLERTEST_H

// A client over the real IPMI library and the management-controller model
// (SimTessaController) behind the library's device seam, so the library's
// own resends stay in play. The KOLT log is on; pauses of the platform
// layer are recorded in host.sleeps. The process-wide generation cache
// starts unknown and is left unknown.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KoltTestSupport.h"
#include "SimTessaController.h"

class KoltControllerTest : public KoltHostTest {
protected:
    void SetUp() override
    {
        GenerationType = -1;
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        dir.write("zordebuglog", "");
        LoadLibrary();
        client.reset(new secureTessa);
        Mark();
    }

    void TearDown() override
    {
        client.reset();
        GenerationType = -1;
        KoltHostTest::TearDown();
    }

    // Frames and pauses from here on are the ones the test looks at.
    void Mark()
    {
        mark = tessa.Frames().size();
        host.sleeps.clear();
    }

    // Frames at the device since the mark, as "30 A2 ..." texts.
    std::vector<std::string> NewFrames() const
    {
        const std::vector<Bytes> all = tessa.Frames();
        std::vector<std::string> texts;
        for (size_t i = mark; i < all.size(); ++i)
            texts.push_back(SimHex(all[i]));
        return texts;
    }

    std::vector<std::string> Log() const { return KoltLogMessages(dir.file("KOLT_DBG.log")); }

    // Opens a session through the client as the life cycle does.
    void OpenSession()
    {
        ASSERT_TRUE(client->BeginTessaSessionExtended(1200));
        ASSERT_TRUE(tessa.SessionOpen());
        Mark();
    }

    SimTessaController tessa{controller};
    std::unique_ptr<secureTessa> client;
    size_t mark = 0;
};

#endif
