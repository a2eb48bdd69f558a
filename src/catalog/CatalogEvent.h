#pragma once

#include "core/WString.h"

namespace qv {

// What the worker has to tell the screens; each sender sets one flag.
struct CatalogEvent {
    bool folders_changed { false };
    bool search_complete { false };
    bool cache_complete { false };
    bool progress { false };
    double progress_fraction { 0 }; // 0 <= value < 1
    bool picture_complete { false };
    bool storage_fault { false }; // PhotoCatalog::storage_fault() changed
    WString picture_path;
};

// Screens register in their constructor and unregister in their destructor.
class CatalogListener {
public:
    virtual ~CatalogListener() = default;
    virtual void on_catalog_event(CatalogEvent const& event) = 0;
};

}
