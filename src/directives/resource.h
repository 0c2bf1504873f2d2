// Resource scripts: the entry points the core calls.
#pragma once

bool Resource_Block_Open();
