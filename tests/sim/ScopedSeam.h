#ifndef TESTS_SIM_SCOPEDSEAM_H
#define TESTS_SIM_SCOPEDSEAM_H

#include <type_traits>

// Installs a stand-in into one of the program's seams for the lifetime of a
// scope and puts back whatever was installed before when the scope ends,
// however it ends:
//
//     FakeScsiHost fake;
//     ScopedSeam<CScsiHostAccess> guard(&fake);
//
// `Seam` is the seam's accessor class (CPlatformLayer, CNVMeHostAccess,
// CScsiHostAccess, QRMIPMIDeviceAccess, ...): its SetForTesting installs an
// implementation and hands back the previous one, and null installs the
// production one. Guards nest; as members of a fixture they are restored in
// the reverse order of their declaration.
template <class Seam>
class ScopedSeam {
public:
    using Interface = std::remove_pointer_t<decltype(Seam::SetForTesting(nullptr))>;

    // Null gives the production implementation for the scope (only for tests
    // of the real calls on things that can never be hardware).
    explicit ScopedSeam(Interface* standIn) : m_previous(Seam::SetForTesting(standIn)) {}
    explicit ScopedSeam(Interface& standIn) : ScopedSeam(&standIn) {}
    ~ScopedSeam() { Seam::SetForTesting(m_previous); }

    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

private:
    Interface* m_previous;
};

#endif
