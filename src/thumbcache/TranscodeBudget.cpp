#include "thumbcache/TranscodeBudget.h"

namespace qv {

TranscodeBudget& transcode_budget()
{
    static TranscodeBudget budget;
    return budget;
}

}
