#include "common/posted.h"

#include <mutex>
#include <unordered_map>

namespace {

std::mutex lock;
std::unordered_map<void*, const std::type_info*>& Objects() {
    static std::unordered_map<void*, const std::type_info*> objects;
    return objects;
}

}  // namespace

namespace posted {

void Remember(void* object, const std::type_info& type) {
    std::lock_guard<std::mutex> guard(lock);
    Objects()[object] = &type;
}

bool Forget(void* object, const std::type_info& type) {
    std::lock_guard<std::mutex> guard(lock);
    auto found = Objects().find(object);
    if (found == Objects().end() || *found->second != type) return false;
    Objects().erase(found);
    return true;
}

}  // namespace posted
