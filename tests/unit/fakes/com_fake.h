#pragma once
// The reference counting and interface look-up that every fake platform
// object shares. `Base` is what the fake derives from (an interface, a stub
// of one, or several joined); `Answers` are the interfaces it answers for,
// each with an interface id known to __uuidof.
#include <windows.h>
#include <inspectable.h>
#include <unknwn.h>

#include <atomic>

namespace fake {
// Every fake object alive now (see LiveObjects).
inline std::atomic<int> liveObjects{0};
}  // namespace fake

template <typename... Bases>
struct Join : Bases... {};

template <typename Base, typename First, typename... Rest>
class FakeUnknown : public Base {
public:
    FakeUnknown() { ++fake::liveObjects; }
    FakeUnknown(const FakeUnknown&) = delete;
    FakeUnknown& operator=(const FakeUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAgileObject)) {
            *object = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!Find<First, Rest...>(iid, object)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~FakeUnknown() { --fake::liveObjects; }

private:
    template <typename Interface, typename... More>
    bool Find(REFIID iid, void** object) {
        if (iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            return true;
        }
        if constexpr (sizeof...(More) > 0) return Find<More...>(iid, object);
        return false;
    }

    std::atomic<ULONG> references_{1};
};

// The same for Windows Runtime objects, which also answer IInspectable.
template <typename Base, typename First, typename... Rest>
class FakeInspectable : public FakeUnknown<Base, First, Rest...> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object != nullptr && iid == __uuidof(IInspectable)) {
            *object = static_cast<IInspectable*>(static_cast<First*>(this));
            this->AddRef();
            return S_OK;
        }
        return FakeUnknown<Base, First, Rest...>::QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
        *name = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        *level = BaseTrust;
        return S_OK;
    }
};
