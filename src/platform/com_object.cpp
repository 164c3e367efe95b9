#include "platform/com_object.h"

namespace platform {
namespace {
thread_local int init_count = 0;
}

HRESULT com_initialize() noexcept { return init_count++ == 0 ? S_OK : S_FALSE; }

void com_uninitialize() noexcept
{
    if (init_count > 0) --init_count;
}

int com_init_count() noexcept { return init_count; }

}  // namespace platform
