#pragma once
// Presets: named, complete output configurations. PresetStore holds the five
// built-ins (made afresh by every store, with new ids) and the user's own,
// which it keeps in the user defaults under "userPresets.v1".
//
// Stored form: a JSON array, one object per user preset in list order, with
// "id" (upper-case UUID text), "name", "isBuiltIn" and "configuration" (the
// ExportConfiguration object), all four required on reading; other keys are
// ignored. Built-ins are never written. An unreadable element is skipped and
// the rest load; it is kept as written and stored again after the user
// presets on every write. A stored value that is no array at all loads as no
// presets, and the defaults file is then kept as unreadable
// (UserDefaults::keepUnreadableValue), never written over.
//
// Thread-safety: PresetStore members may be called from any thread;
// observers of userPresetsChanged() run on the calling thread after the
// change, with no lock held. Safe to destroy on any thread once no call is
// in progress.

#include "model/ExportConfiguration.h"
#include "platform/core/Json.h"
#include "platform/core/Signal.h"
#include "platform/core/Uuid.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class UserDefaults;

struct Preset {
    Uuid id = Uuid::random();
    std::string name;
    bool isBuiltIn = false;
    ExportConfiguration configuration;

    // All four fields; names compare by canonical equivalence.
    friend bool operator==(const Preset& a, const Preset& b);
};

Json toJson(const Preset& preset);
namespace json {
// Throws JsonDecodeError when a key is missing, a type is wrong or the configuration is rejected.
template <>
Preset decode<Preset>(const Json& value, std::string_view key);
}  // namespace json

class PresetStore {
public:
    static constexpr const char* kDefaultsKey = "userPresets.v1";

    // Over the standard user defaults.
    PresetStore();
    // Over `defaults`, which must outlive the store.
    explicit PresetStore(UserDefaults& defaults);
    PresetStore(const PresetStore&) = delete;
    PresetStore& operator=(const PresetStore&) = delete;

    // When `defaults` hold the stored list as something other than an array:
    // has them keep their file as unreadable (UserDefaults::keepUnreadableValue),
    // so that it is never written over. Every store does this when made; the
    // program does it first, before anything writes the settings.
    static void keepUnreadableStoredList(UserDefaults& defaults);

    // "ProRes 422 HQ (master)", "H.264 1080p (delivery)", "H.264 720p (web)",
    // "HEVC 2160p (4K)", "Proxy 720p (ProRes)", each with a new id.
    static std::vector<Preset> makeBuiltInPresets();

    const std::vector<Preset>& builtIns() const { return builtIns_; }
    std::vector<Preset> userPresets() const;
    // builtIns followed by userPresets.
    std::vector<Preset> allPresets() const;

    // Replaces the list, notifying only when it differs; does not save.
    void setUserPresets(std::vector<Preset> presets);

    // Trims white space and line breaks from `name`; an empty result changes
    // nothing. Otherwise replaces the configuration of the first user preset
    // with that name (canonically equivalent, case counts; built-ins are not
    // searched), keeping its id and position, or appends a new user preset;
    // then writes the stored list.
    void savePreset(std::string_view name, const ExportConfiguration& configuration);

    // For a preset that is not built in: removes every user preset with its id
    // (observers are told even when none matched) and writes the stored list.
    // A built-in preset changes nothing.
    void deletePreset(const Preset& preset);

    Signal<>& userPresetsChanged() { return userPresetsChanged_; }

private:
    void persistLocked();

    UserDefaults& defaults_;
    const std::vector<Preset> builtIns_;
    mutable std::mutex mutex_;
    std::vector<Preset> userPresets_;
    std::vector<Json> unreadable_;  // stored elements that could not be read, as written
    Signal<> userPresetsChanged_;
};

}  // namespace fw
