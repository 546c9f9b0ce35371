#include "velmark/lib/MuiName.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/TableSource.h"

#include "emulator/Bench.h"

namespace velmark::cli {

MuiNameAnswer languageModuleNameFor(const std::string& dllPath, const velmark::ExportTable& table,
                                    const std::u16string& hostPath, const std::optional<std::u16string>& sysLang) {
    MuiNameAnswer answer;
    if (sysLang && sysLang->size() > kSysLangMaxUnits)
        answer.note = "a SysLang of " + std::to_string(sysLang->size()) + " characters is longer than the " +
                      std::to_string(kSysLangMaxUnits) + " the module reads, so \"409\" is used";

    bench::Bench device(table);
    bench::FakeCoredll& fake = device.fake();
    fake.modules().setHost(hostPath);
    fake.registry().setDword(u"MUI", u"Enable", 1);
    // The text stops at a NUL, as the registry string would.
    if (sysLang) fake.registry().setString(u"MUI", u"SysLang", sysLang->c_str());
    try {
        device.load(dllPath);
    } catch (const bench::LoadRefused& e) {
        throw Failure(dllPath + ": the emulated device refuses to load it: " + e.what());
    } catch (const bench::CallFailed& e) {
        throw Failure(dllPath + ": its process attach failed on the emulated device: " + e.what());
    }
    const std::vector<bench::LibraryLoad>& loads = fake.modules().loads();
    if (!loads.empty()) {
        answer.name = loads.front().path;
        return answer;
    }
    // The module decided; these only say why.
    if (hostPath.empty())
        answer.why = "an empty host path names no language module";
    else if (hostPath.size() >= kPathCapacity)
        answer.why = "the host path has " + std::to_string(hostPath.size()) +
                     " characters; the module's path buffer holds at most " + std::to_string(kPathCapacity - 1);
    else
        answer.why = "the name would be longer than the " + std::to_string(kPathCapacity - 1) +
                     " characters the module's path buffer holds";
    return answer;
}

}  // namespace velmark::cli
