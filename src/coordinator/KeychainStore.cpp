#include "coordinator/KeychainStore.h"

#include <libsecret/secret.h>

#include <memory>

namespace fw {

namespace {

const SecretSchema kSchema = {"io.framewright.Publish",
                              SECRET_SCHEMA_NONE,
                              {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                               {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                              0,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr,
                              nullptr};

struct HashTableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct SecretValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};

std::unique_ptr<GHashTable, HashTableDeleter> itemAttributes() {
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(table, const_cast<char*>("service"), const_cast<char*>("Framewright.publish"));
    g_hash_table_insert(table, const_cast<char*>("account"), const_cast<char*>("destination.secret"));
    return std::unique_ptr<GHashTable, HashTableDeleter>(table);
}

}  // namespace

std::optional<std::string> KeychainStore::secret() const {
    if (backend_ == Backend::memory) return memory_;
    GError* rawError = nullptr;
    // The service API only: libsecret's file backend must never be chosen.
    std::unique_ptr<SecretValue, SecretValueDeleter> value(
        secret_service_lookup_sync(nullptr, &kSchema, itemAttributes().get(), nullptr, &rawError));
    const std::unique_ptr<GError, ErrorDeleter> error(rawError);
    if (error) {
        backend_ = Backend::memory;
        return memory_;
    }
    if (!value) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    if (!g_utf8_validate(bytes, static_cast<gssize>(length), nullptr)) return std::nullopt;
    return std::string(bytes, length);
}

void KeychainStore::setSecret(std::string_view value) {
    if (backend_ == Backend::secretService) {
        GError* rawError = nullptr;
        if (value.empty()) {
            secret_service_clear_sync(nullptr, &kSchema, itemAttributes().get(), nullptr, &rawError);
        } else {
            const std::unique_ptr<SecretValue, SecretValueDeleter> item(
                secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
            secret_service_store_sync(nullptr, &kSchema, itemAttributes().get(), SECRET_COLLECTION_DEFAULT,
                                      "Framewright publishing secret", item.get(), nullptr, &rawError);
        }
        const std::unique_ptr<GError, ErrorDeleter> error(rawError);
        if (!error) return;
        backend_ = Backend::memory;
    }
    memory_ = value.empty() ? std::nullopt : std::optional<std::string>(value);
}

}  // namespace fw
