#include "egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>

static EGLDisplay g_display = EGL_NO_DISPLAY;
static EGLContext g_context = EGL_NO_CONTEXT;

static bool has_extension(const char *list, const char *name)
{
    if (list == nullptr)
        return false;
    size_t len = strlen(name);
    for (const char *p = list; (p = strstr(p, name)) != nullptr; p += len) {
        bool starts = p == list || p[-1] == ' ';
        bool ends = p[len] == ' ' || p[len] == '\0';
        if (starts && ends)
            return true;
    }
    return false;
}

static std::string egl_error_text(void)
{
    char text[32];
    snprintf(text, sizeof text, "EGL error 0x%04x", (unsigned)eglGetError());
    return text;
}

// Initializes `display` and makes a 3.2 core context current on it.
static bool make_context(EGLDisplay display, std::string *why)
{
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY) {
        *why = "no display (" + egl_error_text() + ")";
        return false;
    }
    if (!eglInitialize(display, &major, &minor)) {
        *why = "eglInitialize failed (" + egl_error_text() + ")";
        return false;
    }
    const char *extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (!has_extension(extensions, "EGL_KHR_surfaceless_context")) {
        *why = "no EGL_KHR_surfaceless_context";
        eglTerminate(display);
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *why = "desktop OpenGL not offered (" + egl_error_text() + ")";
        eglTerminate(display);
        return false;
    }

    // A config is only needed to name the context's API; no surface is made from it.
    const EGLint config_attribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, config_attribs, &config, 1, &count) || count < 1) {
        if (!has_extension(extensions, "EGL_KHR_no_config_context")) {
            *why = "no OpenGL-renderable EGL config";
            eglTerminate(display);
            return false;
        }
        config = EGL_NO_CONFIG_KHR;
    }

    const EGLint context_attribs[] = {
        EGL_CONTEXT_MAJOR_VERSION,       3,
        EGL_CONTEXT_MINOR_VERSION,       2,
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
        EGL_NONE,
    };
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attribs);
    if (context == EGL_NO_CONTEXT) {
        *why = "no OpenGL 3.2 core context (" + egl_error_text() + ")";
        eglTerminate(display);
        return false;
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        *why = "eglMakeCurrent without a surface failed (" + egl_error_text() + ")";
        eglDestroyContext(display, context);
        eglTerminate(display);
        return false;
    }
    g_display = display;
    g_context = context;
    return true;
}

static bool try_device(const char *client_ext, std::string *error)
{
    if (!has_extension(client_ext, "EGL_EXT_platform_device") ||
        !has_extension(client_ext, "EGL_EXT_device_enumeration")) {
        *error += "device platform: not offered by this EGL\n";
        return false;
    }
    auto get_platform_display =
        (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    auto query_devices = (PFNEGLQUERYDEVICESEXTPROC)eglGetProcAddress("eglQueryDevicesEXT");
    auto query_device_string = (PFNEGLQUERYDEVICESTRINGEXTPROC)eglGetProcAddress("eglQueryDeviceStringEXT");
    if (get_platform_display == nullptr || query_devices == nullptr) {
        *error += "device platform: entry points missing\n";
        return false;
    }
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (!query_devices(16, devices, &count) || count < 1) {
        *error += "device platform: no devices\n";
        return false;
    }
    // GLVND lists every vendor's devices; Mesa's software rasterizer comes
    // last so a GPU server renders on its GPU.
    for (int software = 0; software < 2; software++) {
        for (EGLint i = 0; i < count; i++) {
            const char *device_ext =
                query_device_string ? query_device_string(devices[i], EGL_EXTENSIONS) : nullptr;
            if (has_extension(device_ext, "EGL_MESA_device_software") != (software == 1))
                continue;
            std::string why;
            EGLDisplay display = get_platform_display(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
            if (make_context(display, &why))
                return true;
            *error += "device platform, device " + std::to_string(i) + ": " + why + "\n";
        }
    }
    return false;
}

static bool try_surfaceless(const char *client_ext, std::string *error)
{
    if (!has_extension(client_ext, "EGL_MESA_platform_surfaceless")) {
        *error += "surfaceless platform: not offered by this EGL\n";
        return false;
    }
    auto get_platform_display =
        (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (get_platform_display == nullptr) {
        *error += "surfaceless platform: eglGetPlatformDisplayEXT missing\n";
        return false;
    }
    std::string why;
    EGLDisplay display = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (make_context(display, &why))
        return true;
    *error += "surfaceless platform: " + why + "\n";
    return false;
}

bool create_egl_context(t_egl_choice choice, std::string *platform, std::string *error)
{
    error->clear();
    const char *client_ext = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (client_ext == nullptr) {
        *error = "EGL offers no client extensions (no platform displays)\n";
        return false;
    }
    if (choice != egl_surfaceless && try_device(client_ext, error)) {
        *platform = "device";
        return true;
    }
    if (choice != egl_device && try_surfaceless(client_ext, error)) {
        *platform = "surfaceless";
        return true;
    }
    return false;
}

void destroy_egl_context(void)
{
    if (g_display == EGL_NO_DISPLAY)
        return;
    eglMakeCurrent(g_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(g_display, g_context);
    eglTerminate(g_display);
    g_display = EGL_NO_DISPLAY;
    g_context = EGL_NO_CONTEXT;
}
