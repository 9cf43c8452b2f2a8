// The native part of the Python package g7231 (module g7231._g7231): encoder and decoder objects over the
// library's C interface.
//
// Input is read where it lies: a NumPy array (or any object with the buffer protocol) is checked for type,
// shape and layout and then coded from its own memory, never copied. Coding runs with the GIL released, so
// threads coding on separate objects run at once; each object has its own lock, so two threads sharing one
// object take turns instead of corrupting it. Every error becomes TypeError or ValueError with a message
// naming what was wrong, before the codec sees the data.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "g7231/g7231.h"

namespace py = pybind11;

namespace {

constexpr std::size_t kFrame = G7231_FRAME_SAMPLES;

// What an object is, for messages: a NumPy array's dtype, a buffer's item format, or the type's name.
std::string describe_items(const py::handle& obj, const py::buffer_info& info) {
  if (py::hasattr(obj, "dtype")) return "dtype " + py::str(obj.attr("dtype")).cast<std::string>();
  return "items of format '" + info.format + "' (" + std::to_string(info.itemsize) + " bytes)";
}

std::string type_name(const py::handle& obj) { return py::str(py::type::handle_of(obj).attr("__name__")); }

std::string shape_of(const py::buffer_info& info) {
  std::string s = "(";
  for (std::size_t i = 0; i < info.shape.size(); ++i) {
    s += (i > 0 ? ", " : "") + std::to_string(info.shape[i]);
  }
  return s + (info.shape.size() == 1 ? ",)" : ")");
}

// A buffer format of native 16-bit signed integers ("h", with or without a byte-order prefix that means
// this machine's order).
bool is_native_int16(const py::buffer_info& info) {
  if (info.itemsize != 2) return false;
  std::string f = info.format;
  if (!f.empty() && (f[0] == '@' || f[0] == '=' || f[0] == (std::endian::native == std::endian::little ? '<' : '>'))) {
    f.erase(0, 1);
  }
  return f == "h";
}

// The samples of pcm, checked: 1-D, int16, contiguous, a whole number of frames. The returned buffer keeps
// the exporter's memory alive and fixed in place until it is destroyed.
py::buffer_info pcm_buffer(const py::handle& pcm) {
  if (!PyObject_CheckBuffer(pcm.ptr())) {
    throw py::type_error("pcm must be a 1-D NumPy array of int16 samples at 8 kHz, not " + type_name(pcm));
  }
  py::buffer_info info = py::reinterpret_borrow<py::buffer>(pcm).request();
  if (!is_native_int16(info)) {
    throw py::type_error("pcm must hold int16 samples, not " + describe_items(pcm, info) +
                         "; convert with numpy.asarray(pcm, numpy.int16) after scaling and limiting");
  }
  if (info.ndim != 1) {
    throw py::value_error("pcm must be one-dimensional (one channel), not of shape " + shape_of(info));
  }
  if (info.shape[0] > 1 && info.strides[0] != 2) {
    throw py::value_error("pcm must be contiguous (its samples one after another in memory); pass "
                          "numpy.ascontiguousarray(pcm)");
  }
  if (info.shape[0] % static_cast<py::ssize_t>(kFrame) != 0) {
    throw py::value_error("pcm holds " + std::to_string(info.shape[0]) +
                          " samples, not a multiple of 240 (whole 30 ms frames at 8 kHz)");
  }
  return info;
}

// The bytes of a bytes-like object (bytes, bytearray, memoryview, a NumPy uint8 array), checked.
py::buffer_info byte_buffer(const py::handle& data) {
  if (!PyObject_CheckBuffer(data.ptr()) || PyUnicode_Check(data.ptr())) {
    throw py::type_error("data must be a bytes-like object of packed frames, not " + type_name(data));
  }
  py::buffer_info info = py::reinterpret_borrow<py::buffer>(data).request();
  if (info.itemsize != 1) {
    throw py::type_error("data must be made of bytes, not " + describe_items(data, info));
  }
  if (info.ndim > 1) throw py::value_error("data must be one-dimensional, not of shape " + shape_of(info));
  if (info.ndim == 1 && info.shape[0] > 1 && info.strides[0] != 1) {
    throw py::value_error("data must be contiguous; pass bytes(data)");
  }
  return info;
}

// A negative code from the library, which the checks above leave no room for, as an exception.
void check(int code) {
  if (code < 0) throw std::runtime_error(std::string("g7231: ") + g7231_strerror(code));
}

int rate_code(const py::handle& rate) {
  // Any real number (a NumPy scalar too), but not text.
  const bool text = PyUnicode_Check(rate.ptr()) || PyBytes_Check(rate.ptr());
  const double r = text ? 0.0 : PyFloat_AsDouble(rate.ptr());
  if (text || (r == -1.0 && PyErr_Occurred())) {
    PyErr_Clear();
    throw py::type_error("rate must be 5.3 or 6.3 (kbit/s), not " + type_name(rate));
  }
  if (r == 5.3) return G7231_RATE_5300;
  if (r == 6.3) return G7231_RATE_6300;
  throw py::value_error("rate must be 5.3 or 6.3 (kbit/s), not " + py::repr(rate).cast<std::string>());
}

struct EncoderDeleter {
  void operator()(g7231_encoder* e) const { g7231_encoder_destroy(e); }
};
struct DecoderDeleter {
  void operator()(g7231_decoder* d) const { g7231_decoder_destroy(d); }
};

class Encoder {
 public:
  Encoder(const py::handle& rate, bool vad, bool highpass) : vad_(vad), highpass_(highpass) {
    g7231_encoder_options options;
    g7231_encoder_options_init(&options);
    options.rate = rate_code(rate);
    options.vad = vad ? 1 : 0;
    options.highpass = highpass ? 1 : 0;
    int error = G7231_OK;
    encoder_.reset(g7231_encoder_create(&options, &error));
    check(encoder_ ? G7231_OK : error);
  }

  py::bytes encode(const py::handle& pcm) {
    const py::buffer_info info = pcm_buffer(pcm);
    const auto* samples = static_cast<const std::int16_t*>(info.ptr);
    const std::size_t frames = static_cast<std::size_t>(info.shape[0]) / kFrame;
    std::vector<std::uint8_t> out(frames * G7231_MAX_FRAME_BYTES);
    std::size_t used = 0;
    int error = G7231_OK;
    {
      py::gil_scoped_release unlocked;
      const std::lock_guard lock(mutex_);
      for (std::size_t f = 0; f < frames && error >= 0; ++f) {
        error = g7231_encode(encoder_.get(), samples + f * kFrame, kFrame, out.data() + used, G7231_MAX_FRAME_BYTES);
        if (error > 0) used += static_cast<std::size_t>(error);
      }
    }
    check(error);
    return py::bytes(reinterpret_cast<const char*>(out.data()), static_cast<py::ssize_t>(used));
  }

  double rate() const { return g7231_encoder_get_rate(encoder_.get()) == G7231_RATE_6300 ? 6.3 : 5.3; }

  void set_rate(const py::handle& rate) {
    const int code = rate_code(rate);
    py::gil_scoped_release unlocked;
    const std::lock_guard lock(mutex_);
    check(g7231_encoder_set_rate(encoder_.get(), code));
  }

  bool vad() const { return vad_; }
  bool highpass() const { return highpass_; }

 private:
  std::unique_ptr<g7231_encoder, EncoderDeleter> encoder_;
  std::mutex mutex_;
  bool vad_;
  bool highpass_;
};

class Decoder {
 public:
  explicit Decoder(bool postfilter) : postfilter_(postfilter) {
    g7231_decoder_options options;
    g7231_decoder_options_init(&options);
    options.postfilter = postfilter ? 1 : 0;
    int error = G7231_OK;
    decoder_.reset(g7231_decoder_create(&options, &error));
    check(decoder_ ? G7231_OK : error);
  }

  py::array_t<std::int16_t> decode(const py::handle& data) {
    const py::buffer_info info = byte_buffer(data);
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(info.ptr),
                                              static_cast<std::size_t>(info.size));
    // Each frame's length comes from its first byte; the last frame may be cut short.
    std::size_t frames = 0;
    for (std::size_t at = 0; at < bytes.size(); at += g7231_frame_size(bytes[at])) ++frames;
    py::array_t<std::int16_t> out(static_cast<py::ssize_t>(frames * kFrame));
    std::int16_t* pcm = out.mutable_data();
    int error = G7231_OK;
    {
      py::gil_scoped_release unlocked;
      const std::lock_guard lock(mutex_);
      std::size_t at = 0;
      for (std::size_t f = 0; f < frames && error >= 0; ++f) {
        const std::size_t size = std::min(g7231_frame_size(bytes[at]), bytes.size() - at);
        error = g7231_decode(decoder_.get(), bytes.data() + at, size, pcm + f * kFrame, kFrame);
        at += size;
      }
    }
    check(error);
    return out;
  }

  py::array_t<std::int16_t> lost() {
    py::array_t<std::int16_t> out(static_cast<py::ssize_t>(kFrame));
    std::int16_t* pcm = out.mutable_data();
    int error = G7231_OK;
    {
      py::gil_scoped_release unlocked;
      const std::lock_guard lock(mutex_);
      error = g7231_decode(decoder_.get(), nullptr, 0, pcm, kFrame);
    }
    check(error);
    return out;
  }

  std::uint64_t frames_concealed() {
    const std::lock_guard lock(mutex_);
    return g7231_decoder_frames_concealed(decoder_.get());
  }

  bool postfilter() const { return postfilter_; }

 private:
  std::unique_ptr<g7231_decoder, DecoderDeleter> decoder_;
  std::mutex mutex_;
  bool postfilter_;
};

int first_byte(int value) {
  if (value < 0 || value > 255) throw py::value_error("a frame's first byte is 0..255, not " + std::to_string(value));
  return value;
}

}  // namespace

PYBIND11_MODULE(_g7231, m) {
  m.doc() = "The codec objects of the g7231 package; use them through the package g7231.";
  m.attr("__version__") = g7231_version();
  m.attr("FRAME_SAMPLES") = static_cast<int>(kFrame);
  m.attr("MAX_FRAME_BYTES") = G7231_MAX_FRAME_BYTES;

  m.def(
      "frame_type", [](int b) { return g7231_frame_type_of(static_cast<std::uint8_t>(first_byte(b))); },
      py::arg("first_byte"),
      "The type of a packed frame from its first byte: 0 active speech at 6.3 kbit/s, 1 at 5.3 kbit/s, 2 SID, "
      "3 untransmitted.");
  m.def(
      "frame_size", [](int b) { return g7231_frame_size(static_cast<std::uint8_t>(first_byte(b))); },
      py::arg("first_byte"), "The length in bytes of a packed frame from its first byte: 24, 20, 4 or 1.");

  py::class_<Encoder>(m, "Encoder", R"(Encoder(rate=5.3, vad=True, highpass=True)

A speech encoder: 8 kHz int16 speech in, packed frames out. One encoder codes one stream; its state carries
from one call of encode() to the next.

rate: 5.3 or 6.3 (kbit/s); may be changed between calls through the attribute of that name.
vad: voice activity detection; silence is then sent as 4-byte SID and 1-byte untransmitted frames.
highpass: the input high-pass filter that removes DC.)")
      .def(py::init<const py::handle&, bool, bool>(), py::arg("rate") = 5.3, py::arg("vad") = true,
           py::arg("highpass") = true)
      .def("encode", &Encoder::encode, py::arg("pcm"), R"(encode(pcm) -> bytes

Codes pcm, a contiguous 1-D int16 NumPy array (or other buffer) of 8 kHz samples whose length is a multiple
of 240 (30 ms frames), read in place. Returns the packed frames, each at its natural length: 24 bytes (active
speech at 6.3 kbit/s), 20 (at 5.3 kbit/s), 4 (SID) or 1 (untransmitted), as `g7231 encode` writes them.
Raises TypeError for another sample type, ValueError for another shape, a non-contiguous array or a length
that is not a whole number of frames.)")
      .def_property("rate", &Encoder::rate, &Encoder::set_rate,
                    "The bit rate in kbit/s, 5.3 or 6.3; a new value applies from the next frame on.")
      .def_property_readonly("vad", &Encoder::vad, "Whether voice activity detection is on.")
      .def_property_readonly("highpass", &Encoder::highpass, "Whether the input high-pass filter is on.");

  py::class_<Decoder>(m, "Decoder", R"(Decoder(postfilter=True)

A speech decoder: packed frames in, 8 kHz int16 speech out, 240 samples per frame. Each frame's type bits
give its rate and kind, so a stream may switch rate or go to silence and back.

postfilter: the formant and pitch postfilter; without it the output equals the encoder's own reconstruction
sample for sample.)")
      .def(py::init<bool>(), py::arg("postfilter") = true)
      .def("decode", &Decoder::decode, py::arg("data"), R"(decode(data) -> numpy.ndarray

Decodes packed frames (bytes, bytearray, memoryview or a uint8 array, read in place) into a new int16 array
of 240 samples per frame. A frame holding values no encoder writes, or cut short by the end of data, is
concealed as lost and counted in frames_concealed; decoding never fails part-way.)")
      .def("lost", &Decoder::lost, R"(lost() -> numpy.ndarray

Conceals one frame that never arrived: 240 samples continuing the speech or comfort noise, fading out over
repeated losses; counted in frames_concealed.)")
      .def_property_readonly("frames_concealed", &Decoder::frames_concealed,
                             "Frames concealed so far: lost, cut short or invalid.")
      .def_property_readonly("postfilter", &Decoder::postfilter, "Whether the postfilter is on.");
}
