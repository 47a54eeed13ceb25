#include "browser/chromium/local_state.h"

#include <nlohmann/json.hpp>

#include "plugin/settings_file.h"

namespace chromium {

bool askForEnergySaver(const std::string& profile, std::string& error) {
    const std::string path = profile + "/Local State";
    std::string text;
    if (const FileRead read = readWholeFile(path, text, error); read == FileRead::failed || read == FileRead::refused)
        return false;
    nlohmann::json state = text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text, nullptr, false);
    if (!state.is_object()) {
        error = "it is not Chromium's JSON";
        return false;
    }
    nlohmann::json* level = &state;
    for (const char* key : {"performance_tuning", "battery_saver_mode"}) {
        nlohmann::json& next = (*level)[key];
        if (!next.is_object()) next = nlohmann::json::object();
        level = &next;
    }
    nlohmann::json& mode = (*level)["state"];
    if (mode.is_number_integer() && mode.get<long long>() == energySaverAlwaysOn) return true;
    mode = energySaverAlwaysOn;
    // The parser let through only UTF-8, so the text is always there to write.
    text = state.dump();
    // A file made read-only is the pilot's to keep as it is.
    const FileReplace replaced = replaceFileAtomically(path, text, error);
    if (replaced == FileReplace::readOnly) error = "it is read-only";
    return replaced == FileReplace::done;
}

}  // namespace chromium
