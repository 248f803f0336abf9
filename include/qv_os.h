// Umbrella header: every family of the qv_os library.
#pragma once

#include "qv_os_export.h"
#include "qv_string.h"
#include "qv_error.h"
#include "qv_list.h"
#include "qv_uid.h"
#include "qv_time.h"
#include "qv_log.h"
#include "qv_thread.h"
#include "qv_event.h"
#include "qv_path.h"
#include "qv_file.h"
#include "qv_cfg.h"
#include "qv_process.h"
#include "qv_sysinfo.h"
#include "qv_storage.h"
#include "qv_socket.h"
