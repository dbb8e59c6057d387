#include "engine/DeepEngines.h"

#include "carving/CFileTypeRecovery.h"
#include "exfat/CProfessionalExfatRecovery.h"
#include "ext/CProfessionalExtRecovery.h"
#include "fat/CProfessionalFatRecovery.h"
#include "ntfs/CProfessionalNtfsRecovery.h"

std::vector<std::unique_ptr<IDeepEngine>> NewDeepEngines() {
    std::vector<std::unique_ptr<IDeepEngine>> engines;
    engines.emplace_back(new CProfessionalNtfsRecovery());
    engines.emplace_back(new CProfessionalExfatRecovery());
    engines.emplace_back(new CProfessionalFatRecovery());
    engines.emplace_back(new CProfessionalExtRecovery());
    engines.emplace_back(new CFileTypeRecovery());  // last: takes what nobody claimed
    return engines;
}
