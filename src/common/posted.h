#pragma once
// Heap objects that travel in the lParam of a posted message. The poster
// hands the object over; the receiving window procedure takes it back and
// owns it. Only objects handed over here are taken back, so a message with
// the same number posted by someone else (another program, a stale post)
// yields nothing instead of a wild pointer.
#include <windows.h>

#include <memory>
#include <typeinfo>

namespace posted {
void Remember(void* object, const std::type_info& type);
bool Forget(void* object, const std::type_info& type);
}  // namespace posted

// Posts `object` as lParam; on failure the object is freed here.
template <class T>
bool PostObject(HWND window, UINT message, WPARAM wParam, std::unique_ptr<T> object) {
    if (!object) return false;
    T* raw = object.get();
    posted::Remember(raw, typeid(T));
    if (PostMessageW(window, message, wParam, reinterpret_cast<LPARAM>(raw))) {
        object.release();
        return true;
    }
    posted::Forget(raw, typeid(T));
    return false;
}

template <class T>
std::unique_ptr<T> TakePosted(LPARAM lParam) {
    T* raw = reinterpret_cast<T*>(lParam);
    if (raw == nullptr || !posted::Forget(raw, typeid(T))) return nullptr;
    return std::unique_ptr<T>(raw);
}
