#include "app/Log.h"
#include "platform/System.h"

using namespace qv;

namespace {

void marker(char16_t const* text)
{
    Log::get() << platform::tick_count() << text;
}

}

int main(int, char**)
{
    marker(u"WinMain 0\n");
    marker(u"WindMain 1\n");
    // The window, skin and screens come up here as they are built.
    marker(u"WinMain 8\n");
    return 0;
}
