#include "xmgen/xm_writer.h"

#include <algorithm>
#include <cstdio>

namespace xmgen {
namespace {

class Bytes {
 public:
  explicit Bytes(std::vector<std::uint8_t>& out) : out_(out) {}
  void U8(unsigned v) { out_.push_back(static_cast<std::uint8_t>(v & 0xFF)); }
  void U16(unsigned v) {
    U8(v);
    U8(v >> 8);
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  // A text field of exactly `width` bytes, cut or padded with `pad`.
  void Text(const std::string& text, std::size_t width, char pad = '\0') {
    for (std::size_t i = 0; i < width; ++i)
      U8(static_cast<unsigned char>(i < text.size() ? text[i] : pad));
  }
  void Zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
  std::size_t Size() const { return out_.size(); }
  void PatchU16(std::size_t at, unsigned v) {
    out_[at] = static_cast<std::uint8_t>(v & 0xFF);
    out_[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  }

 private:
  std::vector<std::uint8_t>& out_;
};

// Pattern cells in the packed form: an empty cell takes one byte, a cell
// with some fields a flag byte and those fields.
void WritePattern(Bytes& b, const Pattern& p) {
  b.U32(9);  // header length
  b.U8(0);   // packing type
  b.U16(static_cast<unsigned>(p.rows));
  std::size_t size_at = b.Size();
  b.U16(0);
  std::size_t start = b.Size();
  for (const Cell& c : p.cells) {
    unsigned flags = 0x80;
    if (c.note) flags |= 0x01;
    if (c.instrument) flags |= 0x02;
    if (c.volume) flags |= 0x04;
    if (c.effect) flags |= 0x08;
    if (c.param) flags |= 0x10;
    b.U8(flags);
    if (c.note) b.U8(c.note);
    if (c.instrument) b.U8(c.instrument);
    if (c.volume) b.U8(c.volume);
    if (c.effect) b.U8(c.effect);
    if (c.param) b.U8(c.param);
  }
  b.PatchU16(size_at, static_cast<unsigned>(b.Size() - start));
}

void WriteEnvelopePoints(Bytes& b, const Envelope& e) {
  for (std::size_t i = 0; i < 12; ++i) {
    if (i < e.points.size()) {
      b.U16(e.points[i].tick);
      b.U16(e.points[i].value);
    } else {
      b.U16(0);
      b.U16(0);
    }
  }
}

void WriteInstrument(Bytes& b, const Instrument& ins) {
  const std::size_t nsamples = ins.samples.size();
  b.U32(nsamples ? 263 : 29);
  b.Text(ins.name, 22);
  b.U8(0);
  b.U16(static_cast<unsigned>(nsamples));
  if (nsamples == 0) return;

  const Envelope& env = ins.volume_envelope;
  const std::size_t points = std::min<std::size_t>(env.points.size(), 12);
  b.U32(40);    // sample header size
  b.Zeros(96);  // every note plays sample 0
  WriteEnvelopePoints(b, env);
  WriteEnvelopePoints(b, Envelope{});  // panning
  b.U8(static_cast<unsigned>(points));
  b.U8(0);
  b.U8(env.sustain >= 0 ? static_cast<unsigned>(env.sustain) : 0);
  b.U8(0);     // volume loop start
  b.U8(0);     // volume loop end
  b.Zeros(3);  // panning sustain and loop
  unsigned type = 0;
  if (points > 0) type |= 1;
  if (points > 0 && env.sustain >= 0) type |= 2;
  b.U8(type);
  b.U8(0);     // panning envelope off
  b.Zeros(4);  // vibrato
  b.U16(ins.fadeout);
  b.Zeros(22);  // reserved

  for (const Sample& s : ins.samples) {
    b.U32(static_cast<std::uint32_t>(s.pcm.size() * 2));
    b.U32(s.loop_start * 2);
    b.U32(s.loop_length * 2);
    b.U8(s.volume);
    b.U8(static_cast<std::uint8_t>(s.finetune));
    b.U8(static_cast<unsigned>(s.loop) | 0x10);  // 16-bit
    b.U8(s.panning);
    b.U8(static_cast<std::uint8_t>(s.relative_note));
    b.U8(0);
    b.Text(s.name, 22);
  }
  for (const Sample& s : ins.samples) {
    std::int16_t previous = 0;
    for (std::int16_t v : s.pcm) {
      b.U16(static_cast<std::uint16_t>(v - previous));
      previous = v;
    }
  }
}

}  // namespace

std::vector<std::uint8_t> WriteXm(const Module& m) {
  std::vector<std::uint8_t> out;
  Bytes b(out);
  b.Text("Extended Module: ", 17);
  b.Text(m.name, 20);
  b.U8(0x1A);
  b.Text("xmgen", 20, ' ');
  b.U16(0x0104);
  b.U32(276);  // header size, counted from here
  b.U16(static_cast<unsigned>(m.orders.size()));
  b.U16(m.restart);
  b.U16(static_cast<unsigned>(m.channels));
  b.U16(static_cast<unsigned>(m.patterns.size()));
  b.U16(static_cast<unsigned>(m.instruments.size()));
  b.U16(1);  // linear frequency table
  b.U16(static_cast<unsigned>(m.speed));
  b.U16(static_cast<unsigned>(m.tempo));
  for (std::size_t i = 0; i < 256; ++i)
    b.U8(i < m.orders.size() ? m.orders[i] : 0);
  for (const Pattern& p : m.patterns) WritePattern(b, p);
  for (const Instrument& ins : m.instruments) WriteInstrument(b, ins);
  return out;
}

bool SaveXm(const Module& module, const std::string& path) {
  std::vector<std::uint8_t> bytes = WriteXm(module);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace xmgen
