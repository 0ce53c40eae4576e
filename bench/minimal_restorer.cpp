// The least a volume restorer can do with libpulse, to compare the helper with: one thread, and
// on every server event one question for the default sink, then its mute, and once the mute is
// answered its volume and its unmute sent together without waiting. An unmute sent behind an
// unanswered mute is lost now and then on pipewire-pulse 0.3.65, leaving the sink muted.
// Volumes by sink name: minimal_restorer phones=0.75 ...
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <pulse/mainloop.h>
#include <pulse/pulseaudio.h>
#include <string>

namespace {

std::map<std::string, double> volumes;

// What the mute's answer needs to finish the restore.
struct Restore {
    std::uint32_t index;
    pa_cvolume volume;
};

void onMuted(pa_context* context, int, void* data) {
    auto* restore = static_cast<Restore*>(data);
    pa_operation_unref(pa_context_set_sink_volume_by_index(context, restore->index,
                                                           &restore->volume, nullptr, nullptr));
    pa_operation_unref(
        pa_context_set_sink_mute_by_index(context, restore->index, 0, nullptr, nullptr));
    delete restore;
}

void onSink(pa_context* context, const pa_sink_info* info, int eol, void*) {
    if (eol != 0 || info == nullptr || !volumes.contains(info->name)) {
        return;
    }
    auto* restore = new Restore{info->index, info->volume};
    pa_cvolume_scale(&restore->volume,
                     pa_volume_t(std::lround(volumes[info->name] * PA_VOLUME_NORM)));
    pa_operation_unref(
        pa_context_set_sink_mute_by_index(context, info->index, 1, onMuted, restore));
}

void onEvent(pa_context* context, pa_subscription_event_type_t, std::uint32_t, void*) {
    pa_operation_unref(
        pa_context_get_sink_info_by_name(context, "@DEFAULT_SINK@", onSink, nullptr));
}

void onState(pa_context* context, void*) {
    if (pa_context_get_state(context) == PA_CONTEXT_READY) {
        pa_context_set_subscribe_callback(context, onEvent, nullptr);
        pa_operation_unref(
            pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
    } else if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string pair = argv[i];
        auto at = pair.find('=');
        volumes[pair.substr(0, at)] = std::atof(pair.substr(at + 1).c_str());
    }
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "minimal restorer");
    pa_context_set_state_callback(context, onState, nullptr);
    pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    return pa_mainloop_run(loop, nullptr);
}
