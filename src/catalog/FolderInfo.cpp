#include "catalog/FolderInfo.h"

#include "base/Paths.h"

namespace qv {

WString folder_of(WStringView picture_path) { return directory_of(picture_path); }

WString folder_display_name(WStringView path)
{
    auto last = path.rfind(u'\\');
    if (last == WStringView::npos)
        last = path.size();
    auto before = last == 0 ? WStringView::npos : path.rfind(u'\\', last - 1);
    auto start = before == WStringView::npos ? 0 : before + 1;
    WString name(path.substr(start, last - start));
    if (name == u"%my_documents%")
        return u"My documents";
    return name;
}

}
