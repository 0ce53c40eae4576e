#include "platform/names/ProductNames.h"

namespace platform {

namespace {

// Set before any other thread starts and never changed afterwards, so reads need no lock.
ProductNames& names() {
    static ProductNames instance;
    return instance;
}

} // namespace

void setProductNames(ProductNames names) {
    platform::names() = std::move(names);
}

const ProductNames& productNames() {
    return names();
}

} // namespace platform
