#include "model/Presets.h"

#include "model/StoredJson.h"
#include "model/UnicodeText.h"
#include "platform/core/UserDefaults.h"

#include <algorithm>

namespace fw {

bool operator==(const Preset& a, const Preset& b) {
    return a.id == b.id && canonicallyEquivalent(std::string_view(a.name), std::string_view(b.name)) &&
           a.isBuiltIn == b.isBuiltIn && a.configuration == b.configuration;
}

Json toJson(const Preset& preset) {
    return {{"id", preset.id.string()},
            {"name", preset.name},
            {"isBuiltIn", preset.isBuiltIn},
            {"configuration", toJson(preset.configuration)}};
}

namespace json {
template <>
Preset decode<Preset>(const Json& value, std::string_view) {
    Preset preset;
    preset.id = stored::requiredUuid(value, "id");
    preset.name = required<std::string>(value, "name");
    preset.isBuiltIn = required<bool>(value, "isBuiltIn");
    preset.configuration = required<ExportConfiguration>(value, "configuration");
    return preset;
}
}  // namespace json

namespace {
stored::DecodedList<Preset> loadUserPresets(UserDefaults& defaults) {
    PresetStore::keepUnreadableStoredList(defaults);
    auto stored = defaults.value(PresetStore::kDefaultsKey);
    if (!stored) return {};
    return stored::decodeEach<Preset>(*stored,
                                      [](const Json& element) { return json::decode<Preset>(element, "preset"); });
}

ExportConfiguration movieConfiguration(OutputCodec codec, double crush, std::optional<ResizeSettings> resize) {
    ExportConfiguration configuration;
    configuration.codec = codec;
    configuration.proResVariant = ProResVariant::hq;
    configuration.h264 = H264Settings{};
    configuration.h264.crush = crush;
    if (resize) configuration.resize = *resize;
    configuration.naming = NamingSettings{};
    return configuration;
}

ResizeSettings resizedTo(std::int64_t width, std::int64_t height) {
    ResizeSettings resize;
    resize.isEnabled = true;
    resize.width = width;
    resize.height = height;
    resize.mode = ResizeMode::aspect;
    return resize;
}

Preset builtIn(std::string name, ExportConfiguration configuration) {
    Preset preset;
    preset.name = std::move(name);
    preset.isBuiltIn = true;
    preset.configuration = std::move(configuration);
    return preset;
}
}  // namespace

void PresetStore::keepUnreadableStoredList(UserDefaults& defaults) {
    // Read as no presets, the next save would write over the user's own.
    if (auto stored = defaults.value(kDefaultsKey); stored && !stored->is_array())
        defaults.keepUnreadableValue(kDefaultsKey);
}

std::vector<Preset> PresetStore::makeBuiltInPresets() {
    return {
        builtIn("ProRes 422 HQ (master)", movieConfiguration(OutputCodec::proRes, 0.6, std::nullopt)),
        builtIn("H.264 1080p (delivery)", movieConfiguration(OutputCodec::h264, 0.6, resizedTo(1920, 1080))),
        builtIn("H.264 720p (web)", movieConfiguration(OutputCodec::h264, 0.5, resizedTo(1280, 720))),
        builtIn("HEVC 2160p (4K)", movieConfiguration(OutputCodec::hevc, 0.6, resizedTo(3840, 2160))),
        builtIn("Proxy 720p (ProRes)",
                ProxySettings{ProxySettings::Codec::proResProxy, ResolutionPreset::hd720}.configuration()),
    };
}

PresetStore::PresetStore() : PresetStore(UserDefaults::standard()) {}

PresetStore::PresetStore(UserDefaults& defaults) : defaults_(defaults), builtIns_(makeBuiltInPresets()) {
    auto stored = loadUserPresets(defaults);
    userPresets_ = std::move(stored.readable);
    unreadable_ = std::move(stored.unreadable);
}

std::vector<Preset> PresetStore::userPresets() const {
    std::lock_guard lock(mutex_);
    return userPresets_;
}

std::vector<Preset> PresetStore::allPresets() const {
    std::vector<Preset> all = builtIns_;
    auto user = userPresets();
    all.insert(all.end(), user.begin(), user.end());
    return all;
}

void PresetStore::setUserPresets(std::vector<Preset> presets) {
    bool differs;
    {
        std::lock_guard lock(mutex_);
        differs = userPresets_ != presets;
        userPresets_ = std::move(presets);
    }
    if (differs) userPresetsChanged_.emit();
}

void PresetStore::savePreset(std::string_view name, const ExportConfiguration& configuration) {
    std::string trimmed = trimmingWhitespaceAndNewlines(name);
    if (trimmed.empty()) return;
    {
        std::lock_guard lock(mutex_);
        auto existing = std::find_if(userPresets_.begin(), userPresets_.end(), [&](const Preset& preset) {
            return canonicallyEquivalent(std::string_view(preset.name), std::string_view(trimmed));
        });
        if (existing != userPresets_.end()) {
            existing->configuration = configuration;
        } else {
            Preset preset;
            preset.name = std::move(trimmed);
            preset.configuration = configuration;
            userPresets_.push_back(std::move(preset));
        }
        persistLocked();
    }
    userPresetsChanged_.emit();
}

void PresetStore::deletePreset(const Preset& preset) {
    if (preset.isBuiltIn) return;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(userPresets_, [&](const Preset& candidate) { return candidate.id == preset.id; });
        persistLocked();
    }
    userPresetsChanged_.emit();
}

void PresetStore::persistLocked() {
    Json list = Json::array();
    for (const auto& preset : userPresets_) list.push_back(toJson(preset));
    stored::appendUnreadable(list, unreadable_);
    defaults_.set(kDefaultsKey, std::move(list));
}

}  // namespace fw
