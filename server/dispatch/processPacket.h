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

// Whether the request is one of the commands that only read the program's
// state in memory (16, 52), or one that gets an empty reply (an unknown code,
// an envelope too short): those are answered on the network thread at once;
// any other may wait on a server, a token or the user. Reads the envelope
// in place, without moving the request's cursor.
bool answeredAtOnce(const tesel::CBlob& request);
