// The Qt views of the application shell link into panoview_gui.
namespace panoview_gui_anchor {
int present = 1;
}
