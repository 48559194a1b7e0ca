// The command processor of the WebSocket service.
#pragma once

#include "core/CBlob.h"

// Handles one whole request message (cursor at its start) and builds its
// reply into `reply` (empty on entry).
//
// Request: uid (string), format field (ignored), command code, payload (the
// rest). An unknown command code, or a message too short for the uid, format
// field and command code, leaves the reply empty and returns 0: the page gets
// an empty message and the connection stays open. Otherwise returns the
// command's result; non-zero means "close the connection without a reply".
//
// The request's buffer is handed over to the command: request is left
// empty.
//
// Keeps no state of its own: safe to call from several threads at once.
int processPacket(tesel::CBlob& request, tesel::CBlob& reply);
