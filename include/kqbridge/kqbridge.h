/// \file
/// kqBridge: everything a host program or a plug-in module may name.
#ifndef KQBRIDGE_KQBRIDGE_H_
#define KQBRIDGE_KQBRIDGE_H_

#include "kqbridge/app.h"
#include "kqbridge/argv.h"
#include "kqbridge/bridge.h"
#include "kqbridge/channel.h"
#include "kqbridge/config.h"
#include "kqbridge/crypt.h"
#include "kqbridge/data.h"
#include "kqbridge/export.h"
#include "kqbridge/interface.h"
#include "kqbridge/logger.h"
#include "kqbridge/mem_pool.h"
#include "kqbridge/module_stamp.h"
#include "kqbridge/named_pipe.h"
#include "kqbridge/packet_pool.h"
#include "kqbridge/registry.h"
#include "kqbridge/share_mem.h"
#include "kqbridge/thread_pool.h"
#include "kqbridge/tracer.h"
#include "kqbridge/utils.h"
#include "kqbridge/value.h"
#include "kqbridge/value_map.h"

/// \namespace bg
/// The central object, the component base, the services, bg::Value and the
/// library's routines.

/// \namespace bg::pi
/// Length-prefixed messages between processes of one user over named pipes.

/// \namespace pp
/// Reference-counted packet buffers and the queues that carry them.

/// \namespace cmdline
/// The option parser's error type, thrown by bg::Argv.

#endif  // KQBRIDGE_KQBRIDGE_H_
