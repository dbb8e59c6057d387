#pragma once
// Records travel on table rows as Qt user data under the meta-type name "FILE_NODE".
#include "engine/FileNode.h"

#include <QMetaType>

Q_DECLARE_METATYPE(_FILE_NODE_)

inline void RegisterFileNodeMetaType() { qRegisterMetaType<_FILE_NODE_>("FILE_NODE"); }
