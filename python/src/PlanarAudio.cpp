#include "PlanarAudio.h"

#include <cmath>
#include <limits>
#include <string>

namespace KelvoraPython
{

namespace
{

std::string ShapeText(const py::array& array)
{
    std::string text = "(";
    for (py::ssize_t axis = 0; axis < array.ndim(); ++axis)
        text += (axis ? ", " : "") + std::to_string(array.shape(axis));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

int InferChannelAxis(const py::array& array)
{
    const auto rows = static_cast<size_t>(array.shape(0));
    const auto columns = static_cast<size_t>(array.shape(1));
    if (rows < columns && rows <= PlanarAudio::MaxInferredChannels)
        return 0;
    if (columns < rows && columns <= PlanarAudio::MaxInferredChannels)
        return 1;
    throw py::value_error("cannot tell channels from frames in audio of shape " + ShapeText(array) +
                          "; pass channel_axis=0 or channel_axis=1");
}

} // namespace

PlanarAudio::PlanarAudio(py::object audio, std::optional<int> requestedAxis)
{
    py::module_ numpy = py::module_::import("numpy");
    py::array array;
    try
    {
        array = numpy.attr("asarray")(audio);
    }
    catch (const py::error_already_set&)
    {
        throw py::type_error("audio must be a numpy array or a sequence of numbers");
    }
    const char kind = array.dtype().kind();
    if (kind != 'f')
        throw py::type_error("audio must hold floating-point samples (float32 is used as is); "
                             "got dtype " +
                             py::str(array.dtype()).cast<std::string>());
    if (array.ndim() != 1 && array.ndim() != 2)
        throw py::value_error("audio must be 1-D (frames,) or 2-D (frames, channels) or "
                              "(channels, frames); got shape " +
                              ShapeText(array));
    if (array.size() == 0)
        throw py::value_error("audio is empty: shape " + ShapeText(array));

    int channelAxis = 0;
    if (array.ndim() == 1)
    {
        if (requestedAxis)
            throw py::value_error("channel_axis applies to 2-D audio only");
        array = array.attr("reshape")(1, -1);
    }
    else if (requestedAxis)
    {
        if (*requestedAxis != 0 && *requestedAxis != 1 && *requestedAxis != -1)
            throw py::value_error("channel_axis must be 0, 1 or -1; got " +
                                  std::to_string(*requestedAxis));
        channelAxis = *requestedAxis == 0 ? 0 : 1;
    }
    else
    {
        channelAxis = InferChannelAxis(array);
    }

    const int frameAxis = 1 - channelAxis;
    const auto frameCount = static_cast<uint64_t>(array.shape(frameAxis));
    // The engine counts frames in 32 bits and positions run up to the loop end inclusive.
    if (frameCount >= std::numeric_limits<uint32_t>::max())
        throw py::value_error("audio has " + std::to_string(frameCount) +
                              " frames; the engine takes fewer than 2^32 - 1");
    frames = static_cast<uint32_t>(frameCount);

    // From here on seen as (channels, frames).
    py::array planar = channelAxis == 0 ? array : py::array(array.attr("T"));
    const bool borrowed =
        planar.dtype().equal(py::dtype::of<float>()) &&
        array.attr("flags").attr("aligned").cast<bool>() &&
        (planar.shape(1) == 1 || planar.strides(1) == static_cast<py::ssize_t>(sizeof(float)));
    if (!borrowed)
        planar = numpy.attr("ascontiguousarray")(planar, "float32");
    owner = planar;

    const auto channelStride = static_cast<size_t>(owner.strides(0));
    // The engine only reads through these pointers; the type is the interface's.
    auto* base = static_cast<char*>(const_cast<void*>(owner.data()));
    for (py::ssize_t channel = 0; channel < owner.shape(0); ++channel)
        pointers.push_back(reinterpret_cast<float*>(base + size_t(channel) * channelStride));
}

uint32_t CheckedSampleRate(py::object rate, const char* name)
{
    if (PyBool_Check(rate.ptr()) || !PyNumber_Check(rate.ptr()) || PyComplex_Check(rate.ptr()))
        throw py::type_error(std::string(name) + " must be a number of Hz; got " +
                             py::str(py::type::of(rate).attr("__name__")).cast<std::string>());
    const double value = py::float_(py::reinterpret_borrow<py::object>(rate));
    if (!(value > 0.0) || value > std::numeric_limits<uint32_t>::max() ||
        value != std::floor(value))
        throw py::value_error(std::string(name) + " must be a whole number of Hz above 0; got " +
                              py::repr(rate).cast<std::string>());
    return static_cast<uint32_t>(value);
}

} // namespace KelvoraPython
