// Every seam of the program behaves alike: SetForTesting hands back what was
// installed, null puts the production implementation back (always the same
// object), and ScopedSeam restores the previous stand-in however its scope
// ends.
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <stdexcept>

#include "LinuxImpl.h"
#include "NVMePCISSDUpdate.h"
#include "PlatformLayer.h"
#include "QRMEnvironmentInfo.h"
#include "RefusingIPMIDevice.h"
#include "RefusingNVMeHost.h"
#include "RefusingScsiHost.h"
#include "ScopedSeam.h"
#include "SimIPMIDeviceAdapter.h"

namespace {

class NoUname : public IQRMUname {
public:
    int Uname(struct utsname*) override { return -1; }
};

class NoStaging : public IRollbackStagingFactory {
public:
    IRollbackStaging* createStaging() override { return nullptr; }
};

// A seam and a stand-in for its interface; no stand-in is ever called here.
template <class Accessor, class StandInType>
struct SeamWith {
    using Seam = Accessor;
    using StandIn = StandInType;
};

template <class Param>
class EverySeam : public testing::Test {
protected:
    using Seam = typename Param::Seam;
    using Interface = typename ScopedSeam<Seam>::Interface;

    // What is installed now, left installed.
    static Interface* current()
    {
        Interface* installed = Seam::SetForTesting(nullptr);
        Seam::SetForTesting(installed);
        return installed;
    }

    typename Param::StandIn first, second;
    // Whatever the test started with comes back at its end.
    ScopedSeam<Seam> atStart{current()};
};

using Seams = testing::Types<SeamWith<CPlatformLayer, CLinuxImpl>, SeamWith<CNVMeHostAccess, RefusingNVMeHost>,
                             SeamWith<CScsiHostAccess, RefusingScsiHost>,
                             SeamWith<QRMIPMIDeviceAccess, RefusingIPMIDevice>,
                             SeamWith<QRMIPMISleeperAccess, SimIPMISleepRecorder>, SeamWith<QRMUnameAccess, NoUname>,
                             SeamWith<CRollbackStagingAccess, NoStaging>>;
TYPED_TEST_SUITE(EverySeam, Seams);

} // namespace

TYPED_TEST(EverySeam, SetForTestingHandsBackThePreviousAndNullRestoresTheProductionOne)
{
    using Seam = typename TestFixture::Seam;
    Seam::SetForTesting(nullptr);
    auto* production = Seam::SetForTesting(nullptr);
    ASSERT_NE(production, nullptr);
    EXPECT_EQ(Seam::SetForTesting(&this->first), production);
    EXPECT_EQ(Seam::SetForTesting(&this->second), &this->first);
    EXPECT_EQ(Seam::SetForTesting(nullptr), &this->second);
    EXPECT_EQ(this->current(), production) << "the same production object each time";
}

TYPED_TEST(EverySeam, ScopedSeamPutsBackWhatWasInstalledBefore)
{
    using Seam = typename TestFixture::Seam;
    Seam::SetForTesting(&this->first);
    {
        ScopedSeam<Seam> outer(this->second);
        EXPECT_EQ(this->current(), &this->second);
        {
            ScopedSeam<Seam> production(nullptr);
            EXPECT_NE(this->current(), &this->first);
            EXPECT_NE(this->current(), &this->second);
        }
        EXPECT_EQ(this->current(), &this->second);
    }
    EXPECT_EQ(this->current(), &this->first);

    EXPECT_THROW(
        {
            ScopedSeam<Seam> leaving(&this->second);
            throw std::runtime_error("the test step fails");
        },
        std::runtime_error);
    EXPECT_EQ(this->current(), &this->first);
}
