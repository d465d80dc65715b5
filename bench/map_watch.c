/* Runs a command and reports how long it takes until it maps a window of a
 * given size on the X display: the root window's substructure events are
 * watched (MapNotify), no polling. The command's process group is ended
 * then. Prints the milliseconds on standard output.
 * usage: map_watch WIDTH HEIGHT COMMAND [ARGUMENT...]  (DISPLAY must be set)
 * Built by bench/installing.sh with the host compiler (libx11-dev). */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: map_watch WIDTH HEIGHT COMMAND [ARGUMENT...]\n");
    return 2;
  }
  int width = atoi(argv[1]), height = atoi(argv[2]);
  Display *display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "cannot open the display\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  double start = now_ms();
  pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  double mapped = -1;
  while (mapped < 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != MapNotify) continue;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, event.xmap.window, &attributes) && attributes.width == width &&
        attributes.height == height) {
      mapped = now_ms() - start;
    }
  }
  kill(-child, SIGKILL);
  waitpid(child, NULL, 0);
  printf("%.1f\n", mapped);
  return 0;
}
