#include "ole/ole_com_ptr.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace ole_com_ptr_detail {

void null_access() { TK_ASSERT_SITE("..\\OLE/ole_ptr", 94); }

void log_release(unsigned long refs_left) noexcept
{
    tk_log(1, "ole_com_ptr<T>::~ole_com_ptr() - %d refs left", static_cast<int>(refs_left));
}

}  // namespace ole_com_ptr_detail

int ole_get_ref_count(ref_counted_object* object)
{
    if (!object) TK_ASSERT_SITE("ole_misc", 14);
    object->AddRef();
    return static_cast<int>(object->Release());
}
