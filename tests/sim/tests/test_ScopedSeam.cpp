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

// A stand-in of each seam's interface; none of them is ever called here.
template <class Seam>
struct StandIn;
template <>
struct StandIn<CPlatformLayer> {
    using Type = CLinuxImpl;
};
template <>
struct StandIn<CNVMeHostAccess> {
    using Type = RefusingNVMeHost;
};
template <>
struct StandIn<CScsiHostAccess> {
    using Type = RefusingScsiHost;
};
template <>
struct StandIn<QRMIPMIDeviceAccess> {
    using Type = RefusingIPMIDevice;
};
template <>
struct StandIn<QRMIPMISleeperAccess> {
    using Type = SimIPMISleepRecorder;
};
template <>
struct StandIn<QRMUnameAccess> {
    using Type = NoUname;
};
template <>
struct StandIn<CRollbackStagingAccess> {
    using Type = NoStaging;
};

template <class Seam>
class EverySeam : public testing::Test {
protected:
    using Interface = typename ScopedSeam<Seam>::Interface;

    // What is installed now, left installed.
    static Interface* current()
    {
        Interface* installed = Seam::SetForTesting(nullptr);
        Seam::SetForTesting(installed);
        return installed;
    }

    typename StandIn<Seam>::Type first, second;
    // Whatever the test started with comes back at its end.
    ScopedSeam<Seam> atStart{current()};
};

using Seams = testing::Types<CPlatformLayer, CNVMeHostAccess, CScsiHostAccess, QRMIPMIDeviceAccess,
                             QRMIPMISleeperAccess, QRMUnameAccess, CRollbackStagingAccess>;
TYPED_TEST_SUITE(EverySeam, Seams);

} // namespace

TYPED_TEST(EverySeam, SetForTestingHandsBackThePreviousAndNullRestoresTheProductionOne)
{
    TypeParam::SetForTesting(nullptr);
    auto* production = TypeParam::SetForTesting(nullptr);
    ASSERT_NE(production, nullptr);
    EXPECT_EQ(TypeParam::SetForTesting(&this->first), production);
    EXPECT_EQ(TypeParam::SetForTesting(&this->second), &this->first);
    EXPECT_EQ(TypeParam::SetForTesting(nullptr), &this->second);
    EXPECT_EQ(this->current(), production) << "the same production object each time";
}

TYPED_TEST(EverySeam, ScopedSeamPutsBackWhatWasInstalledBefore)
{
    TypeParam::SetForTesting(&this->first);
    {
        ScopedSeam<TypeParam> outer(this->second);
        EXPECT_EQ(this->current(), &this->second);
        {
            ScopedSeam<TypeParam> production(nullptr);
            EXPECT_NE(this->current(), &this->first);
            EXPECT_NE(this->current(), &this->second);
        }
        EXPECT_EQ(this->current(), &this->second);
    }
    EXPECT_EQ(this->current(), &this->first);

    EXPECT_THROW(
        {
            ScopedSeam<TypeParam> leaving(&this->second);
            throw std::runtime_error("the test step fails");
        },
        std::runtime_error);
    EXPECT_EQ(this->current(), &this->first);
}
