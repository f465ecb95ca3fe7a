// Spawns `calvoro --mcp` with the official MCP client, lists the tools and calls each of
// them with good and bad arguments. The SDK validates every reply against its schemas.
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import { CallToolResultSchema } from "@modelcontextprotocol/sdk/types.js";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const binary = process.argv[2];
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "calvoro-mcp-"));
let failures = 0;
let passes = 0;

async function check(name, body) {
  try {
    await body();
    passes++;
  } catch (error) {
    failures++;
    console.error(`FAILED ${name}: ${error.stack || error}`);
  }
}

const text = (result) => result.content[0].text;

try {
  fs.writeFileSync(path.join(dir, "table.csv"), "a,b\n1,2\n");
  fs.writeFileSync(path.join(dir, "notes.txt"), "hello");
  execFileSync("ffmpeg", ["-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x240", "-frames:v", "1",
    path.join(dir, "photo.png")]);

  const transport = new StdioClientTransport({ command: binary, args: ["--mcp"], stderr: "ignore",
    env: { ...process.env, QT_QPA_PLATFORM: "offscreen" } });
  const client = new Client({ name: "calvoro-test", version: "1.0.0" });
  await client.connect(transport);

  await check("server info", async () => {
    assert.equal(client.getServerVersion().name, "calvoro");
    assert.ok(client.getServerCapabilities().tools);
  });
  await check("ping", async () => { await client.ping(); });
  await check("tools/list", async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name),
      ["list_supported_conversions", "convert_file", "estimate_compression", "compress_file"]);
    assert.deepEqual(tools[3].inputSchema.properties.level.enum, ["maximum", "high", "balanced", "small", "tiny"]);
  });
  const call = (name, args) => client.callTool({ name, arguments: args }, CallToolResultSchema);

  await check("list everything", async () => {
    const r = await call("list_supported_conversions", {});
    assert.ok(!r.isError);
    assert.match(text(r), /^Image: png, jpeg/);
  });
  await check("list one extension", async () => {
    const r = await call("list_supported_conversions", { file_extension: "csv" });
    assert.equal(text(r), ".csv (CSV, Document)\nconvert_file targets: tsv, json, html, markdown, pdf\ncompress_file: not supported");
  });
  await check("convert good", async () => {
    const r = await call("convert_file", { source_path: path.join(dir, "table.csv"), target_format: "json",
      output_dir: path.join(dir, "out") });
    assert.ok(!r.isError, text(r));
    assert.equal(r.structuredContent.output_path, path.join(dir, "out", "table.json"));
    assert.ok(fs.existsSync(r.structuredContent.output_path));
  });
  await check("convert bad target", async () => {
    const r = await call("convert_file", { source_path: path.join(dir, "table.csv"), target_format: "mp4" });
    assert.equal(r.isError, true);
    assert.equal(text(r), "CSV can't convert to mp4. Valid targets: tsv, json, html, markdown, pdf");
    assert.equal(r.structuredContent, undefined);
  });
  await check("convert missing path", async () => {
    const r = await call("convert_file", { target_format: "json" });
    assert.equal(text(r), "source_path is required");
  });
  await check("estimate an image", async () => {
    const r = await call("estimate_compression", { source_path: path.join(dir, "photo.png") });
    assert.ok(!r.isError, text(r));
    if (r.structuredContent) {
      assert.ok(Array.isArray(r.structuredContent.levels));
      assert.match(text(r), /^Compression options for photo.png:/);
    }
  });
  await check("estimate text", async () => {
    const r = await call("estimate_compression", { source_path: path.join(dir, "notes.txt") });
    assert.equal(text(r), "TXT files can't be compressed (only images, video, and audio can).");
  });
  await check("compress an image", async () => {
    const r = await call("compress_file", { source_path: path.join(dir, "photo.png"), level: "small",
      output_dir: path.join(dir, "out") });
    if (!r.isError) {
      assert.ok(fs.existsSync(r.structuredContent.output_path));
      assert.equal(typeof r.structuredContent.saved_percent, "number");
    } else {
      assert.match(text(r), /^Compression failed: /);
    }
  });
  await check("compress unknown level", async () => {
    const r = await call("compress_file", { source_path: path.join(dir, "photo.png"), level: "Tiny" });
    assert.equal(text(r), "Unknown level 'Tiny'. Valid: maximum, high, balanced, small, tiny.");
  });
  await check("oversized request", async () => {
    // The client writes the id after the arguments: the server still finds it to answer.
    await assert.rejects(call("convert_file", { source_path: "x".repeat(17 * 1024 * 1024), target_format: "json" }),
      (error) => error.code === -32600 && /request too large/.test(error.message));
  });
  await check("cancel a compression", async () => {
    // 4:4:4 pictures are encoded again, so the compression lasts long enough to cancel.
    const clip = path.join(dir, "clip.mp4");
    execFileSync("ffmpeg", ["-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=480x360:duration=40", "-c:v", "libx264",
      "-preset", "ultrafast", "-pix_fmt", "yuv444p", clip]);
    const out = path.join(dir, "cancelled");
    fs.mkdirSync(out);
    const work = () => fs.readdirSync(out).filter((n) => n.startsWith(".calvoro-work-")).map((n) => path.join(out, n));
    const writing = () => work().some((w) => fs.readdirSync(w).some((f) => fs.statSync(path.join(w, f)).size > 0));
    const pause = () => new Promise((resolve) => setTimeout(resolve, 10));
    const controller = new AbortController();
    let settled = false;
    const pending = client.callTool({ name: "compress_file", arguments: { source_path: clip, level: "small", output_dir: out } },
      CallToolResultSchema, { signal: controller.signal });
    pending.then(() => { settled = true; }, () => { settled = true; });
    while (!writing() && !settled) await pause();
    assert.ok(!settled, "finished before it could be cancelled");
    controller.abort("no longer wanted");
    await assert.rejects(pending);
    while (work().length) await pause();
    await client.ping();
    assert.deepEqual(fs.readdirSync(out), []);
  });
  await check("unknown tool", async () => {
    const r = await call("nope", {});
    assert.equal(r.isError, true);
  });
  await client.close();
} finally {
  fs.rmSync(dir, { recursive: true, force: true });
}

console.log(`${passes} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
