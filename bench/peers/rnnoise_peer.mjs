// RNNoise (WebAssembly build from npm) as a file filter for the quality benchmark:
//   node rnnoise_peer.mjs noisy.wav enhanced.wav
// Mono 48000 Hz WAV in (16-bit PCM or 32-bit float), 32-bit float WAV out of the same
// length. The model works on 480-sample frames at 16-bit scale and delays its output
// by one frame; the delay is left in the output (the scorer aligns it).
import { readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { pathToFileURL } from "node:url";
import path from "node:path";

const FRAME = 480;

function readWav(file) {
  const b = readFileSync(file);
  if (b.toString("ascii", 0, 4) !== "RIFF" || b.toString("ascii", 8, 12) !== "WAVE") {
    throw new Error(`${file}: not a RIFF WAVE file`);
  }
  let pos = 12, fmt = null;
  while (pos + 8 <= b.length) {
    const id = b.toString("ascii", pos, pos + 4);
    const size = b.readUInt32LE(pos + 4);
    const body = pos + 8;
    if (id === "fmt ") {
      fmt = { tag: b.readUInt16LE(body), channels: b.readUInt16LE(body + 2),
              rate: b.readUInt32LE(body + 4), bits: b.readUInt16LE(body + 14) };
      if (fmt.tag === 0xfffe && size >= 26) fmt.tag = b.readUInt16LE(body + 24);
    } else if (id === "data") {
      if (!fmt) throw new Error(`${file}: data before fmt`);
      const n = Math.min(size, b.length - body);
      if (fmt.channels !== 1 || fmt.rate !== 48000) throw new Error(`${file}: need mono 48000 Hz`);
      if (fmt.tag === 3 && fmt.bits === 32) {
        const out = new Float32Array(Math.floor(n / 4));
        for (let i = 0; i < out.length; i++) out[i] = b.readFloatLE(body + 4 * i);
        return out;
      }
      if (fmt.tag === 1 && fmt.bits === 16) {
        const out = new Float32Array(Math.floor(n / 2));
        for (let i = 0; i < out.length; i++) out[i] = b.readInt16LE(body + 2 * i) / 32768;
        return out;
      }
      throw new Error(`${file}: unsupported sample format`);
    }
    pos = body + size + (size & 1);
  }
  throw new Error(`${file}: no data chunk`);
}

function writeWav(file, x) {
  const b = Buffer.alloc(44 + 4 * x.length);
  b.write("RIFF", 0, "ascii"); b.writeUInt32LE(36 + 4 * x.length, 4); b.write("WAVE", 8, "ascii");
  b.write("fmt ", 12, "ascii"); b.writeUInt32LE(16, 16); b.writeUInt16LE(3, 20); b.writeUInt16LE(1, 22);
  b.writeUInt32LE(48000, 24); b.writeUInt32LE(48000 * 4, 28); b.writeUInt16LE(4, 32); b.writeUInt16LE(32, 34);
  b.write("data", 36, "ascii"); b.writeUInt32LE(4 * x.length, 40);
  for (let i = 0; i < x.length; i++) b.writeFloatLE(x[i], 44 + 4 * i);
  writeFileSync(file, b);
}

const [src, dst] = process.argv.slice(2);
if (!src || !dst) {
  console.error("usage: node rnnoise_peer.mjs noisy.wav enhanced.wav");
  process.exit(2);
}
// Resolve the package from this folder's node_modules, wherever the command runs from.
const require = createRequire(pathToFileURL(path.join(path.dirname(new URL(import.meta.url).pathname), "x.js")));
const pkgDir = path.dirname(require.resolve("@jitsi/rnnoise-wasm/package.json"));
const { default: create } = await import(pathToFileURL(path.join(pkgDir, "dist", "rnnoise-sync.js")));
const m = await create();
const x = readWav(src);
const st = m._rnnoise_create(0);
const buf = m._malloc(FRAME * 4);
const y = new Float32Array(x.length);
for (let off = 0; off < x.length; off += FRAME) {
  const heap = m.HEAPF32.subarray(buf >> 2, (buf >> 2) + FRAME);
  heap.fill(0);
  const k = Math.min(FRAME, x.length - off);
  for (let i = 0; i < k; i++) heap[i] = x[off + i] * 32768;
  m._rnnoise_process_frame(st, buf, buf);
  const out = m.HEAPF32.subarray(buf >> 2, (buf >> 2) + FRAME);
  for (let i = 0; i < k; i++) y[off + i] = out[i] / 32768;
}
m._free(buf);
m._rnnoise_destroy(st);
writeWav(dst, y);
