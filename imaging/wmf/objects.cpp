// The object table: slots handed out lowest first from a min-heap, checked on every use.
#include "imaging/wmf/objects.h"

#include <algorithm>
#include <functional>

namespace pixmoor::wmf::detail {

ObjectTable::ObjectTable(int size, Warnings& warnings) : warnings_(warnings) {
    objects_.resize(std::size_t(std::max(0, size)));
    // Every slot starts free; an ascending list is already a min-heap.
    freeSlots_.resize(objects_.size());
    for (std::size_t i = 0; i < freeSlots_.size(); ++i) freeSlots_[i] = int(i);
}

void ObjectTable::add(Object object) {
    if (freeSlots_.empty()) {
        warnings_.add(QStringLiteral("object table of %1 entries is full").arg(objects_.size()));
        return;
    }
    std::pop_heap(freeSlots_.begin(), freeSlots_.end(), std::greater<>());
    const int slot = freeSlots_.back();
    freeSlots_.pop_back();
    objects_[std::size_t(slot)] = std::move(object);
}

void ObjectTable::remove(int index) {
    Object* object = at(index);
    if (!object) return;
    *object = std::monostate();
    freeSlots_.push_back(index);
    std::push_heap(freeSlots_.begin(), freeSlots_.end(), std::greater<>());
}

Object* ObjectTable::at(int index) {
    if (index < 0 || std::size_t(index) >= objects_.size()) {
        warnings_.add(QStringLiteral("object index %1 is out of range (table of %2)")
                          .arg(index)
                          .arg(objects_.size()));
        return nullptr;
    }
    if (std::holds_alternative<std::monostate>(objects_[std::size_t(index)])) {
        warnings_.add(QStringLiteral("object %1 does not exist").arg(index));
        return nullptr;
    }
    return &objects_[std::size_t(index)];
}

const Object* ObjectTable::slot(int index) const {
    if (index < 0 || std::size_t(index) >= objects_.size()) return nullptr;
    return &objects_[std::size_t(index)];
}

} // namespace pixmoor::wmf::detail
