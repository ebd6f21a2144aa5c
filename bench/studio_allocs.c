// libstudio_allocs.so: preloaded into tessary-studio by bench/studio_allocs.sh
// to count the heap allocations its frame loop makes. Between two returns of
// SDL_GL_SwapWindow it counts malloc, calloc and realloc calls on the main
// thread whose immediate caller is the studio's own code (the executable) or
// libstdc++ (std::string and friends called from it); the driver's and SDL's
// own allocations are left out. At exit it prints
//   studio_allocs frames=F frames_with_allocs=N allocs=A main_thread_all=M
#define _GNU_SOURCE
#include <dlfcn.h>
#include <link.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *block, size_t size);

static uintptr_t exe_lo, exe_hi, cxx_lo, cxx_hi;
static long frames, frames_with, allocs, main_thread_all, current;
static int counting;

static int note_library(struct dl_phdr_info *info, size_t size, void *data)
{
    (void)size;
    (void)data;
    uintptr_t lo = UINTPTR_MAX, hi = 0;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        if (info->dlpi_phdr[i].p_type != PT_LOAD)
            continue;
        uintptr_t start = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
        if (start < lo)
            lo = start;
        if (start + info->dlpi_phdr[i].p_memsz > hi)
            hi = start + info->dlpi_phdr[i].p_memsz;
    }
    if (info->dlpi_name[0] == '\0' && exe_lo == 0) {
        exe_lo = lo;
        exe_hi = hi;
    }
    if (strstr(info->dlpi_name, "libstdc++") != NULL) {
        cxx_lo = lo;
        cxx_hi = hi;
    }
    return 0;
}

static void count(void *caller)
{
    if (!counting || getpid() != (pid_t)syscall(SYS_gettid))
        return;
    main_thread_all++;
    uintptr_t c = (uintptr_t)caller;
    if ((c >= exe_lo && c < exe_hi) || (c >= cxx_lo && c < cxx_hi))
        current++;
}

void *malloc(size_t size)
{
    count(__builtin_return_address(0));
    return __libc_malloc(size);
}

void *calloc(size_t n, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_calloc(n, size);
}

void *realloc(void *block, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_realloc(block, size);
}

// The first swap ends start-up: counting begins there.
void SDL_GL_SwapWindow(void *window)
{
    static void (*real)(void *);
    if (real == NULL) {
        real = (void (*)(void *))dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
        dl_iterate_phdr(note_library, NULL);
    }
    real(window);
    if (counting) {
        frames++;
        frames_with += current > 0;
        allocs += current;
    }
    current = 0;
    counting = 1;
}

__attribute__((destructor)) static void report(void)
{
    fprintf(stderr, "studio_allocs frames=%ld frames_with_allocs=%ld allocs=%ld main_thread_all=%ld\n", frames,
            frames_with, allocs, main_thread_all);
}
