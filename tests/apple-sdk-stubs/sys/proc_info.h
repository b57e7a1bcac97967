// Declaration stubs: the process-information structure and flavour that the macOS sources use, as
// Apple's public SDK declares them (sys/proc_info.h; MAXCOMLEN from sys/param.h). Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <stdint.h>
#include <sys/types.h>

#ifndef MAXCOMLEN
#define MAXCOMLEN 16
#endif

extern "C" {

struct proc_bsdinfo {
    uint32_t pbi_flags;
    uint32_t pbi_status;
    uint32_t pbi_xstatus;
    uint32_t pbi_pid;
    uint32_t pbi_ppid;
    uid_t pbi_uid;
    gid_t pbi_gid;
    uid_t pbi_ruid;
    gid_t pbi_rgid;
    uid_t pbi_svuid;
    gid_t pbi_svgid;
    uint32_t rfu_1;
    char pbi_comm[MAXCOMLEN];
    char pbi_name[2 * MAXCOMLEN];
    uint32_t pbi_nfiles;
    uint32_t pbi_pgid;
    uint32_t pbi_pjobc;
    uint32_t e_tdev;
    uint32_t e_tpgid;
    int32_t pbi_nice;
    uint64_t pbi_start_tvsec;
    uint64_t pbi_start_tvusec;
};

#define PROC_PIDTBSDINFO 3

} // extern "C"
