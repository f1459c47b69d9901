// The compiled-in pictures live in the application library; a static
// library's resources must be registered by a call, or the linker drops them.
#pragma once

namespace tessaroo::app
{
// Registers the ":/image/..." resources. Idempotent.
void InitResources();
} // namespace tessaroo::app
