// The profile reader fed arbitrary bytes: it either refuses them with a
// reason or gives a profile that writes back to a file it reads again the
// same, with nothing to tell the two apart.
#include "FuzzSupport.h"
#include "Profile.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    kkm::TProfile profile;
    QString error;
    if (!kkm::ProfileFromJson(json, profile, error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const QByteArray written = kkm::ProfileToJson(profile);
    kkm::TProfile again;
    FUZZ_CHECK(kkm::ProfileFromJson(written, again, error));
    FUZZ_CHECK(kkm::CompareProfiles(profile, again).empty());
    FUZZ_CHECK(kkm::CompareProfiles(again, profile).empty());
    FUZZ_CHECK(kkm::ProfileToJson(again) == written);
    return 0;
}
