#pragma once
// Ownership of a COM object made with `new`, which starts with one reference.
#include <wrl/client.h>

// Takes over that reference. The toolchain's ComPtr::Attach adds one of its
// own, unlike the Windows SDK's, and would keep the object alive for good.
template <typename T>
Microsoft::WRL::ComPtr<T> Adopt(T* object) {
    Microsoft::WRL::ComPtr<T> owned;
    *owned.GetAddressOf() = object;
    return owned;
}
