#include "ExifPlan.h"

#include <algorithm>

namespace velora {
namespace exiflayout {

void FreeRoom::Add(std::size_t begin, std::size_t end) {
    if (begin >= end) {
        return;
    }
    Free.push_back({begin, end});
    std::sort(Free.begin(), Free.end(),
              [](const Range& a, const Range& b) { return a.Begin < b.Begin; });
    std::vector<Range> merged;
    for (const Range& r : Free) {
        if (!merged.empty() && r.Begin <= merged.back().End) {
            merged.back().End = std::max(merged.back().End, r.End);
        } else {
            merged.push_back(r);
        }
    }
    Free = std::move(merged);
}

void FreeRoom::Remove(std::size_t begin, std::size_t end) {
    std::vector<Range> rest;
    for (const Range& r : Free) {
        if (r.End <= begin || r.Begin >= end) {
            rest.push_back(r);
            continue;
        }
        if (r.Begin < begin) {
            rest.push_back({r.Begin, begin});
        }
        if (r.End > end) {
            rest.push_back({end, r.End});
        }
    }
    Free = std::move(rest);
}

std::size_t FreeRoom::Take(std::size_t size) {
    for (std::size_t i = 0; i < Free.size(); ++i) {
        const Range r = Free[i];
        const std::size_t at = r.Begin + (r.Begin & 1);
        if (at + size <= r.End) {
            Free.erase(Free.begin() + static_cast<std::ptrdiff_t>(i));
            Add(r.Begin, at);
            Add(at + size, r.End);
            return at;
        }
    }
    return None;
}

std::size_t FreeRoom::TrimEnd(std::size_t end) {
    if (!Free.empty() && Free.back().End >= end) {
        end = std::min(end, Free.back().Begin);
        Free.pop_back();
    }
    return end;
}

std::size_t ElementSize(std::uint16_t type) {
    const std::size_t size = ExifStructure::TypeSize(type);
    return type == 5 || type == 10 ? 4 : size;  // a rational is two longs
}

std::vector<std::uint8_t> InOrder(const PropertyItem& item, bool big) {
    std::vector<std::uint8_t> value = item.value;
    const std::size_t element = ElementSize(item.type);
    if (item.bigEndian != big && element > 1) {
        for (std::size_t at = 0; at + element <= value.size(); at += element) {
            std::reverse(value.begin() + static_cast<std::ptrdiff_t>(at),
                         value.begin() + static_cast<std::ptrdiff_t>(at + element));
        }
    }
    return value;
}

bool OrderWithoutOriginal(const std::vector<PropertyItem>& items) {
    for (const PropertyItem& item : items) {
        if (item.id == MakerNoteTag) {
            return item.bigEndian;
        }
    }
    for (const PropertyItem& item : items) {
        if (item.id <= 0xFFFF && !item.value.empty() && ElementSize(item.type) > 1) {
            return item.bigEndian;
        }
    }
    return false;
}

}  // namespace exiflayout
}  // namespace velora
