// The desktop's registry: the per-user store of the Linux platform layer,
// which also keeps the XDG autostart entries.
#include "qt_platform.h"
#include "registry_store.h"

namespace {
std::optional<registry_store::Data> storeData(const std::optional<RegistryValue>& v)
{
    if (!v)
        return std::nullopt;
    return registry_store::Data{static_cast<registry_store::Type>(static_cast<int>(v->type)), v->data};
}
} // namespace

bool QtPlatform::registrySetValue(RegistryRoot root, const Text& key, const Text& name,
                                  const std::optional<RegistryValue>& value)
{
    return registry_store::setValue(static_cast<int>(root), key, name, storeData(value));
}

bool QtPlatform::registryDeleteValue(RegistryRoot root, const Text& key, const Text& name)
{
    return registry_store::deleteValue(static_cast<int>(root), key, name);
}

bool QtPlatform::registryDeleteKey(RegistryRoot root, const Text& key)
{
    return registry_store::deleteKey(static_cast<int>(root), key);
}

bool QtPlatform::registryValueExists(RegistryRoot root, const Text& key, const Text& name)
{
    return registry_store::valueExists(static_cast<int>(root), key, name);
}
