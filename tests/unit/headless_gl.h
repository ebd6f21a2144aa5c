// A headless OpenGL 3.2 core context (Mesa's surfaceless EGL platform) for
// tests that upload and draw. No display needed.
#pragma once

#include <EGL/egl.h>
#include <gtest/gtest.h>

class HeadlessGl : public testing::Test {
protected:
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;

    void SetUp() override;
    void TearDown() override;
};
