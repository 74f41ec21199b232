#pragma once
// The registries that rebuild ports and devices from the kind codes of
// their records.
#include <cstdint>
#include <utility>
#include <vector>

namespace tovik {

// An ordered table of (kind code, constructor). A lookup takes the last
// entry with the code, so a later registration overrides an earlier one.
template <class TConstructor>
class TKindRegistry {
public:
    void Register(int64_t code, TConstructor constructor) {
        Entries.emplace_back(code, std::move(constructor));
    }
    const TConstructor* Find(int64_t code) const {
        for (auto it = Entries.rbegin(); it != Entries.rend(); ++it)
            if (it->first == code) return &it->second;
        return nullptr;
    }
    size_t Count() const { return Entries.size(); }

private:
    std::vector<std::pair<int64_t, TConstructor>> Entries;
};

}  // namespace tovik
