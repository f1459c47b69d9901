// _PARTITION_ITEM_ travels in a tree row's user data, so the toolkit's
// variants must know it.
#pragma once

#include "partition/PartitionItem.h"

#include <QMetaType>

Q_DECLARE_METATYPE(_PARTITION_ITEM_)

// Registers the record under the name "PARTITION_ITEM". Idempotent.
void RegisterPartitionItemMetaType();
