#include "base/ResolutionListener.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace qv {

namespace {

// Fonts may be made on the start-up loader thread while the main thread
// runs, hence the lock; the calls themselves happen on the main thread.
struct ListenerList {
    std::recursive_mutex mutex; // guards entries
    std::vector<ResolutionListener*> entries;
};

ListenerList& listeners()
{
    static ListenerList list;
    return list;
}

}

ResolutionListener::ResolutionListener()
{
    auto& list = listeners();
    std::lock_guard lock(list.mutex);
    list.entries.push_back(this);
}

ResolutionListener::~ResolutionListener()
{
    auto& list = listeners();
    std::lock_guard lock(list.mutex);
    std::erase(list.entries, this);
}

void notify_resolution_change()
{
    auto& list = listeners();
    std::lock_guard lock(list.mutex);
    // Walk a snapshot so that listeners may come and go during the calls,
    // and check each one is still entered before calling it.
    std::vector<ResolutionListener*> snapshot = list.entries;
    for (auto* listener : snapshot) {
        if (std::find(list.entries.begin(), list.entries.end(), listener) != list.entries.end())
            listener->on_resolution_change();
    }
}

}
